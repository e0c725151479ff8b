// Writing a firmware image to the (simulated) flash of the access point.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace devflash {

inline constexpr const char *kFlashImage = "/var/lib/flash/image";
// The size of the flash partition in bytes, as the board describes it. A
// device without it takes an image of any size; the sandbox writes it to
// make one device refuse an image that the others take.
inline constexpr const char *kFlashCapacity = "/var/lib/flash/capacity";

// Why this device refuses `image`, or "" when it takes it; `version`
// receives the image's version.
std::string refusal(std::span<const uint8_t> image, std::string &version);

// Checks the image at `path`, writes it to flash, records its version as
// ("system", "version") and sets ("firmware-upgrade", "progress") to "1",
// which makes the daemon request a reboot after its next upgrade reply.
// Prints the reason and returns false when the image is refused or cannot
// be written; flash and store are then untouched.
bool flashImage(const std::string &path);

}  // namespace devflash
