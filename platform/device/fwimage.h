// The firmware image format of the access point: an 80-byte header and the
// payload that is written to flash.
//
//   offset  size  field
//        0     8  magic "TARNFW01"
//        8    32  version text, zero-padded, at least one zero byte
//       40     8  payload length, little-endian
//       48    32  SHA-256 of the payload
//       80     n  payload
//
// The digest covers the payload only, so the header can be checked and the
// payload streamed to flash without holding two copies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fwimage {

inline constexpr std::string_view kMagic = "TARNFW01";
inline constexpr size_t kVersionOff = 8, kVersionLen = 32;
inline constexpr size_t kLengthOff = 40;
inline constexpr size_t kDigestOff = 48, kDigestLen = 32;
inline constexpr size_t kHeaderLen = 80;

enum class ImageError { None, TruncatedHeader, BadMagic, BadVersion, LengthMismatch, BadDigest };

// A line of text for each fault, for the tools' diagnostics.
std::string_view describe(ImageError error);

// An image of `payload` labelled `version`; nothing when the version is
// empty or does not fit its field with a terminator.
std::optional<std::vector<uint8_t>> build(std::string_view version,
                                          std::span<const uint8_t> payload);

// Checks a whole image; on success `version` receives its version text.
ImageError check(std::span<const uint8_t> image, std::string &version);

// The payload of an image that passed check.
std::span<const uint8_t> payload(std::span<const uint8_t> image);

}  // namespace fwimage
