#include "sha256.h"

#include <openssl/evp.h>

namespace devfmt {

std::optional<Digest> sha256(std::span<const uint8_t> data) {
    Digest digest{};
    unsigned len = 0;
    if (EVP_Digest(data.data(), data.size(), digest.data(), &len, EVP_sha256(), nullptr) != 1 ||
        len != digest.size()) {
        return std::nullopt;
    }
    return digest;
}

std::string toHex(std::span<const uint8_t> bytes) {
    constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        text.push_back(kHex[b >> 4]);
        text.push_back(kHex[b & 0x0F]);
    }
    return text;
}

}  // namespace devfmt
