// Management and identity accessors against a real settings store: the
// byte form of stored addresses, which fields are cleared or left alone on
// failure, and how texts fill their fixed-width fields.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sys.h"
#include "temp_store.h"

namespace {

TempStore &store() {
    static TempStore s;
    return s;
}

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kGuard = 0xEE;

// A field of `width` bytes inside a larger, guard-filled buffer, so writes
// past the field show up.
struct Field {
    explicit Field(size_t w) : width(w), buf(w + 8, kGuard) {}
    std::span<uint8_t> span() { return {buf.data(), width}; }
    Bytes content() const { return {buf.begin(), buf.begin() + static_cast<long>(width)}; }
    bool tailUntouched() const {
        for (size_t i = width; i < buf.size(); ++i) {
            if (buf[i] != kGuard) {
                return false;
            }
        }
        return true;
    }
    size_t width;
    Bytes buf;
};

class SysAccessors : public ::testing::Test {
protected:
    void SetUp() override { store().clear(); }
};

struct MacCase {
    const char *stored;  // null: no setting
    int result;
    Bytes bytes;
};

TEST_F(SysAccessors, LanMacTable) {
    const MacCase cases[] = {
        {"00:11:22:aa:bb:cc", 0, {0x00, 0x11, 0x22, 0xAA, 0xBB, 0xCC, 0, 0}},
        {"00:11:22:AA:BB:CC", 0, {0x00, 0x11, 0x22, 0xAA, 0xBB, 0xCC, 0, 0}},
        {"0:1:2:3:4:5", 0, {0, 1, 2, 3, 4, 5, 0, 0}},
        // Parsing stops at the first group that does not parse: the rest is 0.
        {"00:11:22", 0, {0x00, 0x11, 0x22, 0, 0, 0, 0, 0}},
        {"00:11:zz:aa:bb:cc", 0, {0x00, 0x11, 0, 0, 0, 0, 0, 0}},
        {"001122aabbcc", 0, {0x00, 0, 0, 0, 0, 0, 0, 0}},
        {"garbage", 0, {0, 0, 0, 0, 0, 0, 0, 0}},
        {nullptr, -1, {0, 0, 0, 0, 0, 0, 0, 0}},
        {"", -1, {0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto &c : cases) {
        store().clear();
        if (c.stored != nullptr) {
            store().set("management", "mac", c.stored);
        }
        Field f(8);
        EXPECT_EQ(sysGetLanMac(0, f.span()), c.result) << (c.stored ? c.stored : "(none)");
        EXPECT_EQ(f.content(), c.bytes) << (c.stored ? c.stored : "(none)");
        EXPECT_TRUE(f.tailUntouched());
    }
}

TEST_F(SysAccessors, LanMacFailsForOtherInterfacesWithClearedField) {
    store().set("management", "mac", "00:11:22:aa:bb:cc");
    Field f(6);
    EXPECT_EQ(sysGetLanMac(1, f.span()), -1);
    EXPECT_EQ(f.content(), Bytes(6, 0));
}

TEST_F(SysAccessors, LanMacIntoNarrowFieldStaysInside) {
    store().set("management", "mac", "00:11:22:aa:bb:cc");
    Field f(3);
    EXPECT_EQ(sysGetLanMac(0, f.span()), 0);
    EXPECT_EQ(f.content(), (Bytes{0x00, 0x11, 0x22}));
    EXPECT_TRUE(f.tailUntouched());
}

struct IpCase {
    const char *stored;
    Bytes bytes;
};

TEST_F(SysAccessors, LanIpTable) {
    const IpCase cases[] = {
        {"192.168.0.50", {0xC0, 0xA8, 0x00, 0x32}},
        {nullptr, {0, 0, 0, 0}},  // missing reads as 0.0.0.0 and succeeds
        {"256.1.2.300", {0x00, 0x01, 0x02, 0x2C}},  // low 8 bits of each number
        {"10.1", {10, 1, 0, 0}},
        {"10.x.3.4", {10, 0, 0, 0}},
        {"garbage", {0, 0, 0, 0}},
    };
    for (const auto &c : cases) {
        store().clear();
        if (c.stored != nullptr) {
            store().set("management", "ip", c.stored);
        }
        Field f(4);
        EXPECT_EQ(sysGetLanIp(0, f.span()), 0) << (c.stored ? c.stored : "(none)");
        EXPECT_EQ(f.content(), c.bytes) << (c.stored ? c.stored : "(none)");
        EXPECT_TRUE(f.tailUntouched());
    }
    store().set("management", "ip", "192.168.0.50");
    Field f(4);
    EXPECT_EQ(sysGetLanIp(1, f.span()), -1);
    EXPECT_EQ(f.content(), Bytes(4, 0));
}

// Mask and gateway leave the field as it was when they fail.
struct AddrReader {
    const char *name;
    int (*read)(int, std::span<uint8_t>);
    const char *section;
    const char *key;
};

TEST_F(SysAccessors, MaskAndGatewayKeepFieldOnFailure) {
    const AddrReader readers[] = {
        {"mask", &sysGetLanMask, "management", "mask"},
        {"gateway", &sysGetLanGateway, "ip-route", "gateway"},
    };
    for (const auto &r : readers) {
        store().clear();
        Field missing(4);
        EXPECT_EQ(r.read(0, missing.span()), -1) << r.name;
        EXPECT_EQ(missing.content(), Bytes(4, kGuard)) << r.name;

        store().set(r.section, r.key, "255.255.255.0");
        Field other(4);
        EXPECT_EQ(r.read(1, other.span()), -1) << r.name;
        EXPECT_EQ(other.content(), Bytes(4, kGuard)) << r.name;

        Field ok(4);
        EXPECT_EQ(r.read(0, ok.span()), 0) << r.name;
        EXPECT_EQ(ok.content(), (Bytes{255, 255, 255, 0})) << r.name;
        EXPECT_TRUE(ok.tailUntouched()) << r.name;
    }
}

struct AddrWriter {
    int (*write)(int, std::span<const uint8_t, 4>);
    const char *section;
    const char *key;
};

TEST_F(SysAccessors, StaticWritersStoreDottedText) {
    const AddrWriter writers[] = {
        {&sysSetStaticIp, "management", "static-ip"},
        {&sysSetStaticMask, "static-ip-route", "mask"},
        {&sysSetStaticGateway, "static-ip-route", "gateway"},
    };
    const std::array<uint8_t, 4> addr = {0xC0, 0xA8, 0x00, 0x32};
    for (const auto &w : writers) {
        store().clear();
        EXPECT_EQ(w.write(1, addr), -1) << w.key;
        EXPECT_EQ(store().get(w.section, w.key), std::nullopt) << w.key;
        EXPECT_EQ(w.write(0, addr), 0) << w.key;
        EXPECT_EQ(store().get(w.section, w.key), "192.168.0.50") << w.section << "/" << w.key;
    }
    // The configured mask does not land where start-up restores it.
    EXPECT_EQ(store().get("management", "static-mask"), std::nullopt);
}

struct ConstCase {
    const char *name;
    int (*get)(std::span<uint8_t>);
    std::string text;
};

TEST_F(SysAccessors, ConstantsCarryTheirTerminatorAndNothingMore) {
    const ConstCase cases[] = {
        {"product", &sysGetProductName, "Vemira AP"},
        {"device type", &sysGetDeviceType, "WLAN-EAP"},
        {"op mode", &sysGetOpMode, "AP"},
        {"hw version", &sysGetHwVersion, "A1"},
        {"empty", &sysGetEmptyText, ""},
    };
    for (const auto &c : cases) {
        Field f(32);
        EXPECT_EQ(c.get(f.span()), 0) << c.name;
        Bytes expected(32, kGuard);
        std::copy(c.text.begin(), c.text.end(), expected.begin());
        expected[c.text.size()] = 0;
        EXPECT_EQ(f.content(), expected) << c.name;
        EXPECT_TRUE(f.tailUntouched()) << c.name;
    }
    // A field narrower than the text is filled and not overrun.
    Field narrow(4);
    EXPECT_EQ(sysGetProductName(narrow.span()), 0);
    EXPECT_EQ(narrow.content(), (Bytes{'V', 'e', 'm', 'i'}));
    EXPECT_TRUE(narrow.tailUntouched());
}

TEST_F(SysAccessors, LanNameIsClearedThenLan1) {
    Field f(8);
    EXPECT_EQ(sysGetLanName(0, f.span()), 0);
    EXPECT_EQ(f.content(), (Bytes{'L', 'A', 'N', '1', 0, 0, 0, 0}));
    Field other(8);
    EXPECT_EQ(sysGetLanName(1, other.span()), -1);
    EXPECT_EQ(other.content(), Bytes(8, 0));
}

struct TextReader {
    const char *name;
    int (*get)(std::span<uint8_t>);
    const char *section;
    const char *key;
};

struct WidthCase {
    std::string stored;
    Bytes field;  // an 8-byte field after the read (guard-filled before)
};

TEST_F(SysAccessors, TextReadersFillTheirFieldWidth) {
    const TextReader readers[] = {
        {"firmware", &sysGetFwVersion, "system", "version"},
        {"name", &sysGetSystemName, "system", "system-name"},
        {"model", &sysGetModel, "system", "model"},
    };
    const uint8_t g = kGuard;
    const WidthCase cases[] = {
        {"v1.2", {'v', '1', '.', '2', 0, g, g, g}},
        // As long as the field: no terminator, nothing written past it.
        {"12345678", {'1', '2', '3', '4', '5', '6', '7', '8'}},
        {"123456789abc", {'1', '2', '3', '4', '5', '6', '7', '8'}},
    };
    for (const auto &r : readers) {
        for (const auto &c : cases) {
            store().clear();
            store().set(r.section, r.key, c.stored.c_str());
            Field f(8);
            EXPECT_EQ(r.get(f.span()), 0) << r.name << " " << c.stored;
            EXPECT_EQ(f.content(), c.field) << r.name << " " << c.stored;
            EXPECT_TRUE(f.tailUntouched()) << r.name << " " << c.stored;
        }
        store().clear();
        Field missing(8);
        EXPECT_EQ(r.get(missing.span()), 0) << r.name;
        EXPECT_EQ(missing.buf[0], 0) << r.name;
    }
}

TEST_F(SysAccessors, SystemNameWriteTakesTheViewOnly) {
    const char raw[] = "office-ap-2XXXX";
    EXPECT_EQ(sysSetSystemName(std::string_view(raw, 11)), 0);
    EXPECT_EQ(store().get("system", "system-name"), "office-ap-2");
}

TEST_F(SysAccessors, DnsViaDhcpOnlyForUp) {
    const struct {
        const char *stored;
        int result;
    } cases[] = {{"up", 0}, {"down", 1}, {"UP", 1}, {"upx", 1}, {nullptr, 1}};
    for (const auto &c : cases) {
        store().clear();
        if (c.stored != nullptr) {
            store().set("host", "dns-via-dhcp", c.stored);
        }
        EXPECT_EQ(sysGetDnsViaDhcp(), c.result) << (c.stored ? c.stored : "(none)");
    }
}

TEST_F(SysAccessors, InterfaceName) {
    EXPECT_EQ(sysGetIfCount(), 1);
    std::array<char, 32> name;
    name.fill('x');
    EXPECT_EQ(sysGetIfName(0, name), -1);  // no setting
    EXPECT_EQ(name[0], '\0');

    store().set("management", "interface", "brtrunk");
    name.fill('x');
    EXPECT_EQ(sysGetIfName(0, name), 0);
    EXPECT_STREQ(name.data(), "brtrunk");

    name.fill('x');
    EXPECT_EQ(sysGetIfName(1, name), -1);
    EXPECT_EQ(name[0], '\0');
}

TEST(Ipv4Text, RoundTripAndLowBits) {
    std::array<char, 32> text;
    const std::array<uint8_t, 4> addr = {255, 0, 7, 128};
    sysFormatIpv4(addr, text);
    EXPECT_STREQ(text.data(), "255.0.7.128");
    std::array<uint8_t, 4> back{};
    sysParseIpv4(text.data(), back);
    EXPECT_EQ(back, addr);
    sysParseIpv4("511.1.2.3", back);
    EXPECT_EQ(back, (std::array<uint8_t, 4>{255, 1, 2, 3}));
}

}  // namespace
