// The settings store layer against a real store: what reads leave in the
// destination and how a rejected write is reported.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <optional>

#include "cfg.h"
#include "temp_store.h"

namespace {

using Cfg = StoreTest;

TEST_F(Cfg, MissingKeyLeavesTheDestination) {
    std::array<char, 16> dst{};
    std::strcpy(dst.data(), "keep");
    EXPECT_EQ(cfgGet("system", "no-such-key", dst), 1);
    EXPECT_EQ(cfgGetObj("radio", "wlan9", "mode", dst), 1);
    EXPECT_EQ(cfgGetObjWhere("vap", "vap1", "vlan-id", "radio", "wlan1", dst), 1);
    EXPECT_STREQ(dst.data(), "keep");
}

TEST_F(Cfg, ReadIsCutToCapacityAndTerminated) {
    const struct {
        size_t capacity;
        const char *read;
    } cases[] = {{8, "brtrunk"}, {7, "brtrun"}, {1, ""}};  // 8: fits with its terminator
    store().set("management", "interface", "brtrunk");
    for (const auto &c : cases) {
        std::array<char, 40> buf;
        buf.fill('#');
        EXPECT_EQ(cfgGet("management", "interface", std::span<char>(buf.data(), c.capacity)), 1);
        EXPECT_STREQ(buf.data(), c.read) << c.capacity;
        EXPECT_EQ(buf[c.capacity], '#') << "wrote past capacity " << c.capacity;
    }
}

// A rejected write prints one line with the library's text and returns the
// library's non-zero result; a successful one prints nothing.
TEST_F(Cfg, RejectedWriteIsReportedOnce) {
    store().lock("vap", "vlan-id", "vap locked", "vap2", "radio", "wlan1");
    testing::internal::CaptureStdout();
    const int rc = cfgSetObjWhere("vap", "vap2", "vlan-id", "radio", "wlan1", "9");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error occurred on set: vap locked\n");
    EXPECT_NE(rc, 0);
    EXPECT_EQ(store().get("vap", "vlan-id", "vap2", "radio", "wlan1"), std::nullopt);

    testing::internal::CaptureStdout();
    EXPECT_EQ(cfgSet("system", "system-name", "ap-1"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace
