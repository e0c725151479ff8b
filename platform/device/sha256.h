// SHA-256 through OpenSSL's EVP interface, shared by the image and the
// configuration file formats.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace devfmt {

using Digest = std::array<uint8_t, 32>;

// Nothing when the library cannot compute it (no memory for a context).
std::optional<Digest> sha256(std::span<const uint8_t> data);
std::string toHex(std::span<const uint8_t> bytes);

}  // namespace devfmt
