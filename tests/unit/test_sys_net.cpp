// DNS, DHCP and IPv6 accessors against a real settings store: field bytes, results and exactly
// which settings each call writes. Plain setters are checked through the basic-info handler.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "sys_net.h"
#include "temp_store.h"

namespace {

TempStore &store() {
    static TempStore s;
    return s;
}

using Field = std::array<uint8_t, 16>;
using Setting = std::tuple<std::string, std::string, std::string>;  // section, key, value

// Prefilled with 0xEE: shows which bytes a getter wrote.
Field untouched() {
    Field f;
    f.fill(0xEE);
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

const Field kV6Addr = v6("2001:db8::1");
const Setting kV6On{"management", "ipv6-status", "up"};
const Setting kAutoOn{"management", "ipv6-autoconfig-status", "up"};
const Setting kAutoOff{"management", "ipv6-autoconfig-status", "down"};
const auto dns2 = [](std::span<uint8_t> f) { return sysGetDns2(f); };
const auto addr6 = [](std::span<uint8_t> f) { return sysGetIpv6Addr(0, f); };
const auto linkLocal = [](auto) { return sysIsLinkLocalIp(0); };

class SysNet : public ::testing::TestWithParam<NetCase> {};

TEST_P(SysNet, Accessor) {
    const NetCase &c = GetParam();
    store().clear();
    for (const auto &[section, key, value] : c.settings)
        store().set(section.c_str(), key.c_str(), value.c_str());
    Field field = untouched();
    EXPECT_EQ(c.result, c.call(field));
    EXPECT_EQ(c.field, field);
    std::vector<Setting> writes;
    for (const JournalEntry &j : store().journal())
        writes.push_back({j.section, j.key, j.value});
    EXPECT_EQ(c.writes, writes);
}

// The rest of the getters' answers show in the discovery reply in the sandbox.
INSTANTIATE_TEST_SUITE_P(
    Get,
    SysNet,
    ::testing::Values(
        NetCase{"Dns2StaticEmpty",
                {{"host", "dns-via-dhcp", "down"}, {"host", "dns-2", "10.0.0.2"}},
                dns2,
                -1},
        NetCase{"Dns2KeepsLowEightBits",
                {{"host", "dns-via-dhcp", "up"}, {"host", "dns-2", "300.1.2.3"}},
                dns2,
                0,
                Field{44, 1, 2, 3, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE,
                      0xEE}},
        NetCase{"DhcpOtherIndex",
                {{"management", "dhcp-status", "up"}},
                [](auto) { return sysGetDhcpStatus(1); },
                -1},
        NetCase{"NotLinkLocal", {{"management", "ip", "169.253.3.4"}}, linkLocal, 0},
        NetCase{"NotLinkLocalShifted", {{"management", "ip", "10.169.254.1"}}, linkLocal, 0},
        NetCase{"AddrAutoFirstToken",
                {kV6On,
                 kAutoOn,
                 {"management", "autoconfig-ipv6-global-all", " \n2001:db8::a 2001:db8::b\n"},
                 {"management", "static-ipv6", "2001:db8::5"}},
                addr6,
                0,
                v6("2001:db8::a")},
        NetCase{"AddrAutoOnlySeparators",
                {kV6On, kAutoOn, {"management", "autoconfig-ipv6-global-all", " \n "}},
                addr6,
                -1},
        NetCase{"AddrUnparsable",
                {kV6On, kAutoOff, {"management", "static-ipv6", "fe80::zz"}},
                addr6,
                0},
        NetCase{"GatewayStaticEmpty",
                {kV6On, kAutoOff},
                [](auto f) { return sysGetIpv6Gateway(0, f); },
                -1},
        NetCase{"AutoconfigMissingIsOff", {}, [](auto) { return sysGetIpv6Autoconfig(0); }, 2}),
    [](const auto &tp) { return std::string(tp.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Set,
    SysNet,
    ::testing::Values(
        NetCase{"DhcpOtherIndexWritesNothing", {}, [](auto) { return sysSetDhcpStatus(1, 1); }, -1},
        NetCase{"AddrRefusedWhileAuto",
                {kV6On, kAutoOn},
                [](auto) { return sysSetIpv6Addr(0, kV6Addr); },
                -1},
        NetCase{"AddrRefusedWithoutAutoconfigSetting",
                {},
                [](auto) { return sysSetIpv6Addr(0, kV6Addr); },
                -1},
        NetCase{"PrefixRefusedWhileAuto",
                {kV6On, kAutoOn},
                [](auto) { return sysSetIpv6PrefixLen(0, 64); },
                -1},
        NetCase{"GatewayRefusedWhileAuto",
                {kV6On, kAutoOn},
                [](auto) { return sysSetIpv6Gateway(0, kV6Addr); },
                -1},
        NetCase{"AddrUnspecifiedRefused",
                {kV6On, kAutoOff},
                [](auto) { return sysSetIpv6Addr(0, Field{}); },
                -1},
        NetCase{"PrefixLenUnchecked",
                {kV6On, kAutoOff},
                [](auto) { return sysSetIpv6PrefixLen(0, 300); },
                0,
                untouched(),
                {{"management", "static-ipv6-prefix-length", "300"}}},
        NetCase{"GatewayZeroClears",
                {kV6On, kAutoOff},
                [](auto) { return sysSetIpv6Gateway(0, Field{}); },
                0,
                untouched(),
                {{"static-ipv6-route", "gateway", ""}}}),
    [](const auto &tp) { return std::string(tp.param.name); });

}  // namespace
