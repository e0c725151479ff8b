// The firmware image format: what flash-validate refuses. Built images are
// accepted and their versions read in the sandbox (test_firmware.py, test_rollout.py).
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "fwimage.h"

namespace {

std::vector<uint8_t> payloadBytes() {
    std::vector<uint8_t> p(1000);
    for (size_t i = 0; i < p.size(); i++)
        p[i] = static_cast<uint8_t>(i * 7);
    return p;
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
