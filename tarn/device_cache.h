// The devices that discovery saw last, kept for shell completion of -d.
//
// One line per device, "MAC<TAB>IPv4<TAB>name", newest first, at most
// kCachedDevices lines, in $XDG_CACHE_HOME/tarn/devices (default
// ~/.cache/tarn/devices). The cache only helps typing: a missing or
// unwritable one is never an error.
#pragma once

#include <string>
#include <vector>

#include "session.h"

namespace tarn {

constexpr size_t kCachedDevices = 64;

struct CachedDevice {
    std::string mac;
    std::string ipv4;
    std::string name;
};

// Empty when neither XDG_CACHE_HOME (absolute) nor HOME is set.
std::string deviceCachePath();

// The entries whose MAC is well formed, newest first.
std::vector<CachedDevice> readDeviceCache();

// Puts the devices found first and keeps the older entries of other
// devices, then replaces the file in one rename, so a reader never sees
// half a file.
void rememberDevices(const std::vector<Found> &found);

}  // namespace tarn
