// The settings store layer against a real store: what reads leave in the
// destination, where writes land, and how a rejected write is reported.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <optional>
#include <string>

#include "cfg.h"
#include "temp_store.h"

namespace {

TempStore &store() {
    static TempStore s;
    return s;
}

class Cfg : public ::testing::Test {
protected:
    void SetUp() override { store().clear(); }
};

TEST_F(Cfg, MissingKeyLeavesTheDestination) {
    std::array<char, 16> dst{};
    std::strcpy(dst.data(), "keep");
    EXPECT_EQ(cfgGet("system", "no-such-key", dst), 1);
    EXPECT_STREQ(dst.data(), "keep");
    EXPECT_EQ(cfgGetObj("radio", "wlan9", "mode", dst), 1);
    EXPECT_STREQ(dst.data(), "keep");
    EXPECT_EQ(cfgGetObjWhere("vap", "vap1", "vlan-id", "radio", "wlan1", dst), 1);
    EXPECT_STREQ(dst.data(), "keep");
}

struct CutCase {
    const char *stored;
    size_t capacity;
    const char *read;
};

TEST_F(Cfg, ReadIsCutToCapacityAndTerminated) {
    const CutCase cases[] = {
        {"brtrunk", 32, "brtrunk"},
        {"brtrunk", 8, "brtrunk"},  // exactly fits with its terminator
        {"brtrunk", 7, "brtrun"},
        {"brtrunk", 1, ""},
    };
    for (const auto &c : cases) {
        store().set("management", "interface", c.stored);
        std::array<char, 40> buf;
        buf.fill('#');
        EXPECT_EQ(cfgGet("management", "interface", std::span<char>(buf.data(), c.capacity)), 1);
        EXPECT_STREQ(buf.data(), c.read) << c.capacity;
        EXPECT_EQ(buf[c.capacity], '#') << "wrote past capacity " << c.capacity;
    }
}

TEST_F(Cfg, ObjectAndQualifiedReads) {
    store().set("radio", "mode", "11ng", "wlan1");
    store().set("vap", "vlan-id", "12", "vap1", "radio", "wlan1");
    store().set("vap", "vlan-id", "34", "vap1", "radio", "wlan0");
    std::array<char, 16> dst{};
    cfgGetObj("radio", "wlan1", "mode", dst);
    EXPECT_STREQ(dst.data(), "11ng");
    dst.fill('\0');
    cfgGetObjWhere("vap", "vap1", "vlan-id", "radio", "wlan0", dst);
    EXPECT_STREQ(dst.data(), "34");
}

TEST_F(Cfg, WritesLandWhereNamed) {
    EXPECT_EQ(cfgSet("management", "static-ip", "192.0.2.50"), 0);
    EXPECT_EQ(cfgSetObj("interface", "ath0", "ssid", "lab"), 0);
    // A qualified write creates the object it names.
    EXPECT_EQ(cfgSetObjWhere("vap", "vap3", "vlan-id", "radio", "wlan1", "7"), 0);
    EXPECT_EQ(store().get("management", "static-ip"), "192.0.2.50");
    EXPECT_EQ(store().get("interface", "ssid", "ath0"), "lab");
    EXPECT_EQ(store().get("vap", "vlan-id", "vap3", "radio", "wlan1"), "7");
    EXPECT_EQ(store().get("vap", "vlan-id", "vap3", "radio", "wlan0"), std::nullopt);
}

struct TriggerCase {
    int (*trigger)();
    const char *section, *key, *value;
};

TEST_F(Cfg, TriggersWriteTheirKeys) {
    const TriggerCase cases[] = {
        {&cfgSaveStartup, "config", "startup", "running"},
        {&cfgRequestReboot, "system", "reboot", "yes"},
        {&cfgRequestFactoryReset, "system", "factory-reset", "yes"},
    };
    for (const auto &c : cases) {
        store().clear();
        EXPECT_EQ(c.trigger(), 0) << c.key;
        const auto journal = store().journal();
        ASSERT_EQ(journal.size(), 1u) << c.key;
        EXPECT_EQ(journal.back().section, c.section);
        EXPECT_EQ(journal.back().key, c.key);
        EXPECT_EQ(journal.back().value, c.value);
    }
}

// A rejected write prints one line with the library's text and returns the
// library's non-zero result; the ASan build checks that the text and both
// records are released.
TEST_F(Cfg, RejectedWriteIsReportedOnce) {
    store().lock("system", "system-name", "setting is read-only");
    testing::internal::CaptureStdout();
    const int rc = cfgSet("system", "system-name", "blocked");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error occurred on set: setting is read-only\n");
    EXPECT_NE(rc, 0);
    EXPECT_EQ(store().get("system", "system-name"), std::nullopt);

    store().lock("vap", "vlan-id", "vap locked", "vap2", "radio", "wlan1");
    testing::internal::CaptureStdout();
    const int rcq = cfgSetObjWhere("vap", "vap2", "vlan-id", "radio", "wlan1", "9");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error occurred on set: vap locked\n");
    EXPECT_NE(rcq, 0);

    const auto journal = store().journal();
    ASSERT_EQ(journal.size(), 2u);
    EXPECT_EQ(journal[1].qualifier, "radio=wlan1");
    EXPECT_EQ(journal[1].result, "vap locked");
}

TEST_F(Cfg, SuccessfulWritePrintsNothing) {
    testing::internal::CaptureStdout();
    cfgSet("system", "system-name", "ap-1");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace
