// The firmware image format: what flash-validate accepts and refuses.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "fwimage.h"
#include "sha256.h"

namespace {

std::vector<uint8_t> payloadBytes() {
    std::vector<uint8_t> p(1000);
    for (size_t i = 0; i < p.size(); i++)
        p[i] = static_cast<uint8_t>(i * 7);
    return p;
}

TEST(FirmwareImage, HeaderLayoutAndVersion) {
    const std::vector<uint8_t> image = *fwimage::build("1.2.3-test", payloadBytes());
    ASSERT_EQ(image.size(), 80u + 1000u);
    EXPECT_EQ(std::string(image.begin(), image.begin() + 8), "TARNFW01");
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&image[8])), "1.2.3-test");
    // 1000 = 0x3E8, little-endian over 8 bytes
    EXPECT_EQ(std::vector<uint8_t>(image.begin() + 40, image.begin() + 48),
              (std::vector<uint8_t>{0xE8, 0x03, 0, 0, 0, 0, 0, 0}));
    const auto digest = devfmt::sha256(payloadBytes());
    ASSERT_TRUE(digest);
    EXPECT_TRUE(std::equal(digest->begin(), digest->end(), image.begin() + 48));
    EXPECT_TRUE(std::equal(image.begin() + 80, image.end(), payloadBytes().begin()));
    std::string version;
    EXPECT_EQ(fwimage::check(image, version), fwimage::ImageError::None);
    EXPECT_EQ(version, "1.2.3-test");
    EXPECT_EQ(fwimage::check(*fwimage::build("0.1", {}), version), fwimage::ImageError::None);
}

TEST(FirmwareImage, CorruptImagesAreRefused) {
    using E = fwimage::ImageError;
    const std::vector<std::tuple<const char *, std::function<void(std::vector<uint8_t> &)>, E>>
        cases = {{"payload byte flipped", [](auto &i) { i[500] ^= 1; }, E::BadDigest},
                 {"truncated header", [](auto &i) { i.resize(79); }, E::TruncatedHeader},
                 {"wrong magic", [](auto &i) { i[0] = 'X'; }, E::BadMagic},
                 {"payload cut", [](auto &i) { i.pop_back(); }, E::LengthMismatch},
                 {"payload grown", [](auto &i) { i.push_back(0); }, E::LengthMismatch},
                 {"version unterminated",
                  [](auto &i) { std::fill(i.begin() + 8, i.begin() + 40, 'v'); }, E::BadVersion},
                 {"version empty", [](auto &i) { i[8] = 0; }, E::BadVersion}};
    for (const auto &[what, apply, expected] : cases) {
        std::vector<uint8_t> image = *fwimage::build("1.2.3-test", payloadBytes());
        apply(image);
        std::string version = "untouched";
        EXPECT_EQ(fwimage::check(image, version), expected) << what;
        EXPECT_EQ(version, "untouched") << what;
    }
}

TEST(FirmwareImage, BuildRefusesVersionsThatDoNotFit) {
    EXPECT_FALSE(fwimage::build("", payloadBytes()));
    EXPECT_FALSE(fwimage::build(std::string(32, 'v'), payloadBytes()));
    EXPECT_TRUE(fwimage::build(std::string(31, 'v'), payloadBytes()));
}

}  // namespace
