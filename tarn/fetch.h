// Reading a file from the server a device is told to download it from, so
// that tarn can look at it before the device does.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "addr.h"

namespace tarn {

// The file at tftp://SERVER/FILE or http://SERVER/FILE (an IPv6 server in
// brackets), at most 4 MiB, within `seconds`. Throws UsageError with the
// reason when it cannot be read.
// The file name as a URL path: every byte but letters, digits, "-._~" and
// "/" percent-encoded, so that curl reads the file the device is told to,
// not one that "#", "?", "%" or a space would make of it.
std::string urlPath(std::string_view file);

std::string fetchFile(const std::string &scheme,
                      const std::string &server,
                      const std::string &file,
                      double seconds);

// The MAC of the device that a configuration backup was made on: the
// backup holds the settings store's dump, whose "management" "mac" line
// names it. Nothing when the file carries no such line.
std::optional<Mac> backupOwner(std::string_view file);

}  // namespace tarn
