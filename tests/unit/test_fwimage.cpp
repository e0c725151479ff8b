// The firmware image format: what flash-validate accepts and refuses.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fwimage.h"
#include "sha256.h"

namespace {

std::vector<uint8_t> payloadBytes() {
    std::vector<uint8_t> p(1000);
    for (size_t i = 0; i < p.size(); i++) {
        p[i] = static_cast<uint8_t>(i * 7);
    }
    return p;
}

std::vector<uint8_t> goodImage() { return *fwimage::build("1.2.3-test", payloadBytes()); }

TEST(FirmwareImage, HeaderLayout) {
    const std::vector<uint8_t> image = goodImage();
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
}

TEST(FirmwareImage, GoodImagePassesWithItsVersion) {
    std::string version;
    EXPECT_EQ(fwimage::check(goodImage(), version), fwimage::ImageError::None);
    EXPECT_EQ(version, "1.2.3-test");
}

TEST(FirmwareImage, EmptyPayloadIsAnImage) {
    std::string version;
    EXPECT_EQ(fwimage::check(*fwimage::build("0.1", {}), version), fwimage::ImageError::None);
}

struct Corruption {
    const char *what;
    std::function<void(std::vector<uint8_t> &)> apply;
    fwimage::ImageError expected;
};

class CorruptImages : public ::testing::TestWithParam<Corruption> {};

TEST_P(CorruptImages, AreRefused) {
    std::vector<uint8_t> image = goodImage();
    GetParam().apply(image);
    std::string version = "untouched";
    EXPECT_EQ(fwimage::check(image, version), GetParam().expected) << GetParam().what;
    EXPECT_EQ(version, "untouched");
}

INSTANTIATE_TEST_SUITE_P(
    Table, CorruptImages,
    ::testing::Values(
        Corruption{"payload byte flipped", [](auto &i) { i[500] ^= 1; }, fwimage::ImageError::BadDigest},
        Corruption{"digest byte flipped", [](auto &i) { i[60] ^= 0x80; }, fwimage::ImageError::BadDigest},
        Corruption{"truncated header", [](auto &i) { i.resize(79); }, fwimage::ImageError::TruncatedHeader},
        Corruption{"empty file", [](auto &i) { i.clear(); }, fwimage::ImageError::TruncatedHeader},
        Corruption{"wrong magic", [](auto &i) { i[0] = 'X'; }, fwimage::ImageError::BadMagic},
        Corruption{"payload cut", [](auto &i) { i.pop_back(); }, fwimage::ImageError::LengthMismatch},
        Corruption{"payload grown", [](auto &i) { i.push_back(0); }, fwimage::ImageError::LengthMismatch},
        Corruption{"length field", [](auto &i) { i[41] = 0x13; }, fwimage::ImageError::LengthMismatch},
        Corruption{"version unterminated",
                   [](auto &i) { std::fill(i.begin() + 8, i.begin() + 40, 'v'); },
                   fwimage::ImageError::BadVersion},
        Corruption{"version empty", [](auto &i) { i[8] = 0; }, fwimage::ImageError::BadVersion}));

TEST(FirmwareImage, BuildRefusesVersionsThatDoNotFit) {
    EXPECT_FALSE(fwimage::build("", payloadBytes()));
    EXPECT_FALSE(fwimage::build(std::string(32, 'v'), payloadBytes()));
    EXPECT_TRUE(fwimage::build(std::string(31, 'v'), payloadBytes()));
}

}  // namespace
