// What the transfer commands and the rollout share around a transfer: the
// names devices take, the server address a device is given, the address
// tarn serves on itself, waiting for a transfer and the device's result.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "addr.h"
#include "serve_common.h"
#include "session.h"

namespace tarn {

// The longest file names the device takes, by transfer: the name field
// holds 127 characters, a restore's tools' command lines 77, an HTTP
// firmware image's flash command lines 82.
inline constexpr size_t kFileNameLimit = 127;
inline constexpr size_t kRestoreNameLimit = 77;
inline constexpr size_t kHttpFirmwareNameLimit = 82;

// Refuses, with a sentence that says why, a name the device would refuse:
// empty, longer than `limit`, beginning with "/", "-" or "~", with a ".."
// component, or with a character other than letters, digits and . _ - + ~ /.
void checkDeviceFileName(const std::string &name, size_t limit);

// A device's backup file: "02-00-00-00-00-01.cfg".
std::string backupFileName(const Mac &mac);

// An IPv4 or IPv6 server address; throws UsageError for anything else.
Server serverAddress(const std::string &text);

// The device's message, or its result code when it gave none.
std::string resultText(const TransferStatus &st);

// The address tarn serves a device on: the IPv4 address of the interface
// the device answered on.
std::string serveAddress(const Found &device);

// The whole file, at most `limit` bytes; nothing, with errno set (EFBIG
// when it is larger), when it cannot be read.
std::optional<std::string> readWholeFile(const std::filesystem::path &path, uint64_t limit);

// A local file to serve, read whole (at most the servers' size limit).
std::shared_ptr<const std::string> readServedFile(const std::filesystem::path &path);

// The event that ends the transfer of `file` with `peer` (complete or
// failed), or nothing when none came by the deadline.
std::optional<TransferEvent> transferEnd(TransferEvents &events,
                                         const std::string &peer,
                                         const std::string &file,
                                         Clock::time_point deadline);

}  // namespace tarn
