#include "fwimage.h"

#include <algorithm>

#include "sha256.h"

namespace fwimage {

namespace {

struct ErrorText {
    ImageError error;
    std::string_view text;
};

constexpr ErrorText kErrorTexts[] = {
    {ImageError::None, "valid image"},
    {ImageError::TruncatedHeader, "file too short for an image header"},
    {ImageError::BadMagic, "not a firmware image"},
    {ImageError::BadVersion, "version text not terminated or empty"},
    {ImageError::LengthMismatch, "payload length does not match the file"},
    {ImageError::BadDigest, "payload digest does not match"},
};

uint64_t loadLe64(std::span<const uint8_t> bytes) {
    uint64_t value = 0;
    for (size_t i = 8; i-- > 0;) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

void storeLe64(std::span<uint8_t> bytes, uint64_t value) {
    for (uint8_t &b : bytes.first(8)) {
        b = static_cast<uint8_t>(value & 0xFF);
        value >>= 8;
    }
}

}  // namespace

std::string_view describe(ImageError error) {
    const auto *it = std::find_if(std::begin(kErrorTexts), std::end(kErrorTexts),
                                  [error](const ErrorText &e) { return e.error == error; });
    return it->text;
}

std::optional<std::vector<uint8_t>> build(std::string_view version,
                                          std::span<const uint8_t> payload) {
    if (version.empty() || version.size() >= kVersionLen ||
        version.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    const std::optional<devfmt::Digest> digest = devfmt::sha256(payload);
    if (!digest) {
        return std::nullopt;
    }
    std::vector<uint8_t> image(kHeaderLen + payload.size(), 0);
    std::span<uint8_t> out(image);
    std::copy(kMagic.begin(), kMagic.end(), out.begin());
    std::copy(version.begin(), version.end(), out.begin() + kVersionOff);
    storeLe64(out.subspan(kLengthOff, 8), payload.size());
    std::copy(digest->begin(), digest->end(), out.begin() + kDigestOff);
    std::copy(payload.begin(), payload.end(), out.begin() + kHeaderLen);
    return image;
}

ImageError check(std::span<const uint8_t> image, std::string &version) {
    if (image.size() < kHeaderLen) {
        return ImageError::TruncatedHeader;
    }
    if (!std::equal(kMagic.begin(), kMagic.end(), image.begin())) {
        return ImageError::BadMagic;
    }
    const std::span<const uint8_t> text = image.subspan(kVersionOff, kVersionLen);
    const auto nul = std::find(text.begin(), text.end(), uint8_t{0});
    if (nul == text.end() || nul == text.begin()) {
        return ImageError::BadVersion;
    }
    if (loadLe64(image.subspan(kLengthOff, 8)) != image.size() - kHeaderLen) {
        return ImageError::LengthMismatch;
    }
    const std::optional<devfmt::Digest> digest = devfmt::sha256(payload(image));
    if (!digest || !std::equal(digest->begin(), digest->end(), image.begin() + kDigestOff)) {
        return ImageError::BadDigest;
    }
    version.assign(text.begin(), nul);
    return ImageError::None;
}

std::span<const uint8_t> payload(std::span<const uint8_t> image) {
    return image.size() < kHeaderLen ? std::span<const uint8_t>{} : image.subspan(kHeaderLen);
}

}  // namespace fwimage
