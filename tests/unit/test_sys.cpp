// Management accessors against a real store: stored addresses as bytes, fields
// cleared or kept on failure, texts in fixed-width fields.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sys.h"
#include "temp_store.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kGuard = 0xEE;

// A field of `width` bytes inside a larger, guard-filled buffer, so writes
// past the field show up.
struct Field {
    explicit Field(size_t w) : width(w), buf(w + 8, kGuard) {}
    std::span<uint8_t> span() { return {buf.data(), width}; }
    Bytes content() const { return {buf.begin(), buf.begin() + static_cast<long>(width)}; }
    bool tailUntouched() const {
        return Bytes(buf.begin() + static_cast<long>(width), buf.end()) == Bytes(8, kGuard);
    }
    size_t width;
    Bytes buf;
};

using SysAccessors = StoreTest;

struct AddrCase {
    int (*read)(int, std::span<uint8_t>);
    const char *key;
    const char *stored;  // null: no setting
    int result;
    Bytes bytes;
};

TEST_F(SysAccessors, StoredAddressesAsBytes) {
    const auto mac = &sysGetLanMac;
    const auto ip = &sysGetLanIp;
    const AddrCase cases[] = {
        {mac, "mac", "00:11:22:aa:bb:cc", 0, {0x00, 0x11, 0x22, 0xAA, 0xBB, 0xCC, 0, 0}},
        // Parsing stops at the first group that does not parse: the rest is 0.
        {mac, "mac", "00:11:zz:aa:bb:cc", 0, {0x00, 0x11, 0, 0, 0, 0, 0, 0}},
        {mac, "mac", nullptr, -1, Bytes(8, 0)},
        {ip, "ip", "192.168.0.50", 0, {0xC0, 0xA8, 0x00, 0x32, 0, 0, 0, 0}},
        {ip, "ip", nullptr, 0, Bytes(8, 0)},  // missing reads as 0.0.0.0 and succeeds
        {ip, "ip", "256.1.2.300", 0, {0x00, 0x01, 0x02, 0x2C, 0, 0, 0, 0}},  // low 8 bits
        {ip, "ip", "10.x.3.4", 0, {10, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto &c : cases) {
        const std::string label = std::string(c.key) + " " + (c.stored ? c.stored : "(none)");
        store().clear();
        if (c.stored != nullptr)
            store().set("management", c.key, c.stored);
        Field f(8);
        EXPECT_EQ(c.read(0, f.span()), c.result) << label;
        EXPECT_EQ(f.content(), c.bytes) << label;
        EXPECT_TRUE(f.tailUntouched()) << label;
    }
}

// Only interface 0 exists: MAC and address clear the field, mask and gateway
// leave it as it was (also when missing), writers store nothing.
TEST_F(SysAccessors, FailuresClearOrKeepTheField) {
    store().seed({"management.mac=00:11:22:aa:bb:cc", "management.ip=192.168.0.50",
                  "management.mask=255.255.255.0", "ip-route.gateway=192.168.0.1"});
    const struct {
        int (*read)(int, std::span<uint8_t>);
        uint8_t left;
    } readers[] = {{&sysGetLanMac, 0},
                   {&sysGetLanIp, 0},
                   {&sysGetLanMask, kGuard},
                   {&sysGetLanGateway, kGuard}};
    for (const auto &r : readers) {
        Field f(4);
        EXPECT_EQ(r.read(1, f.span()), -1) << &r - readers;
        EXPECT_EQ(f.content(), Bytes(4, r.left)) << &r - readers;
    }
    store().clear();
    Field missing(4);
    EXPECT_EQ(sysGetLanMask(0, missing.span()), -1);
    EXPECT_EQ(missing.content(), Bytes(4, kGuard));
    const std::array<uint8_t, 4> addr = {10, 0, 0, 5};
    EXPECT_EQ(std::tuple(sysSetStaticIp(1, addr), sysSetStaticMask(1, addr),
                         sysSetStaticGateway(1, addr)),
              std::tuple(-1, -1, -1));
    EXPECT_TRUE(store().journal().empty());
}

TEST_F(SysAccessors, TextReadersFillTheirFieldWidth) {
    const uint8_t g = kGuard;
    const struct {
        std::string stored;
        Bytes field;  // an 8-byte field after the read (guard-filled before)
    } cases[] = {
        {"v1.2", {'v', '1', '.', '2', 0, g, g, g}},
        // As long as the field or longer: no terminator, nothing written past it.
        {"12345678", {'1', '2', '3', '4', '5', '6', '7', '8'}},
        {"123456789abc", {'1', '2', '3', '4', '5', '6', '7', '8'}},
    };
    for (const auto &c : cases) {
        store().set("system", "system-name", c.stored.c_str());
        Field f(8);
        EXPECT_EQ(sysGetSystemName(f.span()), 0) << c.stored;
        EXPECT_EQ(f.content(), c.field) << c.stored;
        EXPECT_TRUE(f.tailUntouched()) << c.stored;
    }
}

}  // namespace
