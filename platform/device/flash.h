// Writing a firmware image to the (simulated) flash of the access point.
#pragma once

#include <string>

namespace devflash {

inline constexpr const char *kFlashImage = "/var/lib/flash/image";

// Checks the image at `path`, writes it to flash, records its version as
// ("system", "version") and sets ("firmware-upgrade", "progress") to "1",
// which makes the daemon request a reboot after its next upgrade reply.
// Prints the reason and returns false when the image is refused or cannot
// be written; flash and store are then untouched.
bool flashImage(const std::string &path);

}  // namespace devflash
