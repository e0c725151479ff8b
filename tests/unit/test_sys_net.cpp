// DNS, DHCP and IPv6 accessors against a real settings store: field bytes,
// results and exactly which settings each call writes. The plain setters'
// writes are checked through the basic-info handler (test_handlers).
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "sys_net.h"
#include "temp_store.h"

namespace {

TempStore &store() {
    static TempStore s;
    return s;
}

using Field = std::array<uint8_t, 16>;

struct Setting {
    std::string section, key, value;
    bool operator==(const Setting &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Setting &w) {
    return os << w.section << '/' << w.key << '=' << '"' << w.value << '"';
}

// Prefilled with 0xEE: shows which bytes a getter wrote.
Field untouched() {
    Field f;
    f.fill(0xEE);
    return f;
}

Field v4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    Field f = untouched();
    f[0] = a, f[1] = b, f[2] = c, f[3] = d;
    return f;
}

Field v6(const char *text) {
    Field f{};
    EXPECT_EQ(1, inet_pton(AF_INET6, text, f.data())) << text;
    return f;
}

struct NetCase {
    const char *name;
    std::vector<Setting> settings;
    std::function<int(std::span<uint8_t>)> call;
    int result;
    Field field = untouched();      // after the call
    std::vector<Setting> writes{};  // by the call
};

void PrintTo(const NetCase &c, std::ostream *os) {
    *os << c.name;
}

const Field kV6Addr = v6("2001:db8::1");
const Field kV6Zero{};
const Setting kV6On{"management", "ipv6-status", "up"};
const Setting kV6Off{"management", "ipv6-status", "down"};
const Setting kAutoOn{"management", "ipv6-autoconfig-status", "up"};
const Setting kAutoOff{"management", "ipv6-autoconfig-status", "down"};
const auto dns1 = [](std::span<uint8_t> f) { return sysGetDns1(f); };
const auto dns2 = [](std::span<uint8_t> f) { return sysGetDns2(f); };
const auto addr6 = [](std::span<uint8_t> f) { return sysGetIpv6Addr(0, f); };
const auto gw6 = [](std::span<uint8_t> f) { return sysGetIpv6Gateway(0, f); };
const auto linkLocal = [](auto) { return sysIsLinkLocalIp(0); };

class SysNet : public ::testing::TestWithParam<NetCase> {};

TEST_P(SysNet, Accessor) {
    const NetCase &c = GetParam();
    store().clear();
    for (const Setting &s : c.settings)
        store().set(s.section.c_str(), s.key.c_str(), s.value.c_str());
    Field field = untouched();
    EXPECT_EQ(c.result, c.call(field));
    EXPECT_EQ(c.field, field);
    std::vector<Setting> writes;
    for (const JournalEntry &j : store().journal())
        writes.push_back({j.section, j.key, j.value});
    EXPECT_EQ(c.writes, writes);
}

INSTANTIATE_TEST_SUITE_P(
    Get, SysNet,
    ::testing::Values(
        NetCase{"Dns1Static",
                {{"host", "dns-via-dhcp", "down"}, {"host", "static-dns-1", "8.8.4.4"},
                 {"host", "dns-1", "10.0.0.1"}}, dns1, 0, v4(8, 8, 4, 4)},
        NetCase{"Dns1ViaDhcp",
                {{"host", "dns-via-dhcp", "up"}, {"host", "static-dns-1", "8.8.4.4"},
                 {"host", "dns-1", "10.0.0.1"}}, dns1, 0, v4(10, 0, 0, 1)},
        NetCase{"Dns2StaticEmpty",
                {{"host", "dns-via-dhcp", "down"}, {"host", "dns-2", "10.0.0.2"}}, dns2, -1},
        NetCase{"Dns2KeepsLowEightBits",
                {{"host", "dns-via-dhcp", "up"}, {"host", "dns-2", "300.1.2.3"}}, dns2, 0,
                v4(44, 1, 2, 3)},
        NetCase{"DhcpUp", {{"management", "dhcp-status", "up"}},
                [](auto) { return sysGetDhcpStatus(0); }, 1},
        NetCase{"DhcpDown", {{"management", "dhcp-status", "down"}},
                [](auto) { return sysGetDhcpStatus(0); }, -1},
        NetCase{"DhcpOtherIndex", {{"management", "dhcp-status", "up"}},
                [](auto) { return sysGetDhcpStatus(1); }, -1},
        NetCase{"LinkLocal", {{"management", "ip", "169.254.3.4"}}, linkLocal, 1},
        NetCase{"NotLinkLocal", {{"management", "ip", "169.253.3.4"}}, linkLocal, 0},
        NetCase{"NotLinkLocalShifted", {{"management", "ip", "10.169.254.1"}}, linkLocal, 0},
        NetCase{"AddrWhileIpv6Off",
                {kV6Off, kAutoOff, {"management", "static-ipv6", "2001:db8::1"}}, addr6, 0},
        NetCase{"GatewayWhileIpv6Off",
                {kV6Off, kAutoOff, {"static-ipv6-route", "gateway", "2001:db8::fe"}}, gw6, 0},
        NetCase{"AddrStatic", {kV6On, kAutoOff, {"management", "static-ipv6", "2001:db8::5"}},
                addr6, 0, v6("2001:db8::5")},
        NetCase{"AddrAutoFirstToken",
                {kV6On, kAutoOn,
                 {"management", "autoconfig-ipv6-global-all", " \n2001:db8::a 2001:db8::b\n"},
                 {"management", "static-ipv6", "2001:db8::5"}}, addr6, 0, v6("2001:db8::a")},
        NetCase{"AddrAutoOnlySeparators",
                {kV6On, kAutoOn, {"management", "autoconfig-ipv6-global-all", " \n "}}, addr6, -1},
        NetCase{"AddrUnparsable", {kV6On, kAutoOff, {"management", "static-ipv6", "fe80::zz"}},
                addr6, 0},
        NetCase{"GatewayAuto",
                {kV6On, kAutoOn, {"management", "ipv6-default-gateway", "fe80::1"},
                 {"static-ipv6-route", "gateway", "2001:db8::fe"}}, gw6, 0, v6("fe80::1")},
        NetCase{"GatewayStatic",
                {kV6On, kAutoOff, {"management", "ipv6-default-gateway", "fe80::1"},
                 {"static-ipv6-route", "gateway", "2001:db8::fe"}}, gw6, 0, v6("2001:db8::fe")},
        NetCase{"GatewayStaticEmpty", {kV6On, kAutoOff}, gw6, -1},
        NetCase{"PrefixLenLowEightBits", {{"management", "static-ipv6-prefix-length", "300"}},
                [](auto) { return sysGetIpv6PrefixLen(0); }, 44},
        NetCase{"AutoconfigUp", {kAutoOn}, [](auto) { return sysGetIpv6Autoconfig(0); }, 1},
        NetCase{"AutoconfigMissingIsOff", {}, [](auto) { return sysGetIpv6Autoconfig(0); }, 2}),
    [](const auto &tp) { return std::string(tp.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Set, SysNet,
    ::testing::Values(
        NetCase{"DhcpOtherIndexWritesNothing", {}, [](auto) { return sysSetDhcpStatus(1, 1); },
                -1},
        NetCase{"AddrRefusedWhileAuto", {kV6On, kAutoOn},
                [](auto) { return sysSetIpv6Addr(0, kV6Addr); }, -1},
        NetCase{"AddrRefusedWithoutAutoconfigSetting", {},
                [](auto) { return sysSetIpv6Addr(0, kV6Addr); }, -1},
        NetCase{"PrefixRefusedWhileAuto", {kV6On, kAutoOn},
                [](auto) { return sysSetIpv6PrefixLen(0, 64); }, -1},
        NetCase{"GatewayRefusedWhileAuto", {kV6On, kAutoOn},
                [](auto) { return sysSetIpv6Gateway(0, kV6Addr); }, -1},
        NetCase{"AddrUnspecifiedRefused", {kV6On, kAutoOff},
                [](auto) { return sysSetIpv6Addr(0, kV6Zero); }, -1},
        NetCase{"PrefixLenUnchecked", {kV6On, kAutoOff},
                [](auto) { return sysSetIpv6PrefixLen(0, 300); }, 0, untouched(),
                {{"management", "static-ipv6-prefix-length", "300"}}},
        NetCase{"GatewayZeroClears", {kV6On, kAutoOff},
                [](auto) { return sysSetIpv6Gateway(0, kV6Zero); }, 0, untouched(),
                {{"static-ipv6-route", "gateway", ""}}}),
    [](const auto &tp) { return std::string(tp.param.name); });

}  // namespace
