// The configuration file that backups are made of: a header line, the
// SHA-256 of the body, and the body, which is the settings store's dump
// (one SECTION OBJECT QUALIFIER KEY VALUE line per setting).
//
//   TARN-CONFIG 1
//   SHA256 <64 lower-case hex digits>
//   <dump lines>
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cfgfile {

inline constexpr std::string_view kHeaderLine = "TARN-CONFIG 1\n";
inline constexpr std::string_view kDigestTag = "SHA256 ";

enum class ConfigError { None, BadHeader, BadDigestLine, BadChecksum };

std::string_view describe(ConfigError error);

// The file for `body`; nothing when the digest cannot be computed.
std::optional<std::string> build(std::string_view body);

// Checks a whole file; on success `body` views the dump lines inside it.
ConfigError check(std::string_view file, std::string_view &body);

// The dump without the device's run state: trigger keys and the progress
// of transfers do not belong in a backup, and restoring them would replay
// a reboot or leave a transfer looking busy forever.
std::string settingsOnly(std::string_view dump);

}  // namespace cfgfile
