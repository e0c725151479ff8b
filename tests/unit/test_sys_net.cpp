// DNS, DHCP and IPv6 accessors against a real settings store: field bytes,
// results and exactly which settings each call writes.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "debug.h"
#include "sys_net.h"
#include "temp_store.h"

namespace {

TempStore &store() {
    static TempStore s;
    return s;
}

using Field = std::array<uint8_t, 16>;
constexpr uint8_t kUntouched = 0xEE;  // prefill: shows which bytes a getter wrote

struct Setting {
    const char *section;
    const char *key;
    const char *value;
};

struct Write {
    std::string section, key, value;
    bool operator==(const Write &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Write &w) {
    return os << w.section << '/' << w.key << '=' << '"' << w.value << '"';
}

struct NetCase {
    const char *name;
    std::vector<Setting> settings;
    std::function<int(std::span<uint8_t>)> call;
    int result;
    Field field;  // after the call
    std::vector<Write> writes;
};

Field untouched() {
    Field f;
    f.fill(kUntouched);
    return f;
}

Field v4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    Field f = untouched();
    f[0] = a;
    f[1] = b;
    f[2] = c;
    f[3] = d;
    return f;
}

Field v6(const char *text) {
    Field f{};
    EXPECT_EQ(1, inet_pton(AF_INET6, text, f.data())) << text;
    return f;
}

// Setters read their argument from a field of the request.
std::span<const uint8_t> arg(const Field &f) {
    return f;
}

const Field kV6Addr = v6("2001:db8::1");
const Field kV6Zero{};
const std::array<uint8_t, 4> kDnsArg = {192, 168, 0, 1};

const std::vector<Setting> kIpv6Static = {{"management", "ipv6-status", "up"},
                                          {"management", "ipv6-autoconfig-status", "down"}};
const std::vector<Setting> kIpv6Auto = {{"management", "ipv6-status", "up"},
                                        {"management", "ipv6-autoconfig-status", "up"}};

std::vector<Setting> with(std::vector<Setting> base, std::initializer_list<Setting> more) {
    base.insert(base.end(), more);
    return base;
}

class SysNet : public ::testing::TestWithParam<NetCase> {
protected:
    void SetUp() override {
        store().clear();
        g_debugLevel = 0;
    }
};

TEST_P(SysNet, Accessor) {
    const NetCase &c = GetParam();
    for (const Setting &s : c.settings)
        store().set(s.section, s.key, s.value);
    const size_t before = store().journal().size();

    Field field = untouched();
    EXPECT_EQ(c.result, c.call(field));
    EXPECT_EQ(c.field, field);

    std::vector<Write> writes;
    const auto journal = store().journal();
    for (size_t i = before; i < journal.size(); i++)
        writes.push_back({journal[i].section, journal[i].key, journal[i].value});
    EXPECT_EQ(c.writes, writes);
}

INSTANTIATE_TEST_SUITE_P(
    Dns, SysNet,
    ::testing::Values(
        NetCase{"Dns1Static",
                {{"host", "dns-via-dhcp", "down"},
                 {"host", "static-dns-1", "8.8.4.4"},
                 {"host", "dns-1", "10.0.0.1"}},
                [](auto f) { return sysGetDns1(f); }, 0, v4(8, 8, 4, 4), {}},
        NetCase{"Dns1InUse",
                {{"host", "dns-via-dhcp", "up"},
                 {"host", "static-dns-1", "8.8.4.4"},
                 {"host", "dns-1", "10.0.0.1"}},
                [](auto f) { return sysGetDns1(f); }, 0, v4(10, 0, 0, 1), {}},
        NetCase{"Dns1ModeMissingMeansStatic",
                {{"host", "static-dns-1", "8.8.4.4"}, {"host", "dns-1", "10.0.0.1"}},
                [](auto f) { return sysGetDns1(f); }, 0, v4(8, 8, 4, 4), {}},
        NetCase{"Dns2Empty",
                {{"host", "dns-via-dhcp", "down"}, {"host", "dns-2", "10.0.0.2"}},
                [](auto f) { return sysGetDns2(f); }, -1, untouched(), {}},
        NetCase{"Dns2KeepsLowEightBits",
                {{"host", "dns-via-dhcp", "up"}, {"host", "dns-2", "300.1.2.3"}},
                [](auto f) { return sysGetDns2(f); }, 0, v4(44, 1, 2, 3), {}},
        NetCase{"Dns2MissingNumbersAreZero",
                {{"host", "dns-via-dhcp", "up"}, {"host", "dns-2", "1.2"}},
                [](auto f) { return sysGetDns2(f); }, 0, v4(1, 2, 0, 0), {}},
        NetCase{"ViaDhcpOn", {}, [](auto) { return sysSetDnsViaDhcp(0); }, 0, untouched(),
                {{"host", "dns-via-dhcp", "up"}}},
        NetCase{"ViaDhcpOff", {}, [](auto) { return sysSetDnsViaDhcp(1); }, 0, untouched(),
                {{"host", "dns-via-dhcp", "down"}}},
        NetCase{"ViaDhcpOtherModeWritesNothing", {}, [](auto) { return sysSetDnsViaDhcp(2); }, 0,
                untouched(), {}},
        NetCase{"SetStaticDns1", {}, [](auto) { return sysSetStaticDns1(kDnsArg); }, 0,
                untouched(), {{"host", "static-dns-1", "192.168.0.1"}}},
        NetCase{"SetStaticDns2", {}, [](auto) { return sysSetStaticDns2(kDnsArg); }, 0,
                untouched(), {{"host", "static-dns-2", "192.168.0.1"}}}),
    [](const auto &tp) { return std::string(tp.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Dhcp, SysNet,
    ::testing::Values(
        NetCase{"StatusUp", {{"management", "dhcp-status", "up"}},
                [](auto) { return sysGetDhcpStatus(0); }, 1, untouched(), {}},
        NetCase{"StatusDown", {{"management", "dhcp-status", "down"}},
                [](auto) { return sysGetDhcpStatus(0); }, -1, untouched(), {}},
        NetCase{"StatusEmpty", {}, [](auto) { return sysGetDhcpStatus(0); }, -1, untouched(), {}},
        NetCase{"StatusOtherIndex", {{"management", "dhcp-status", "up"}},
                [](auto) { return sysGetDhcpStatus(1); }, -1, untouched(), {}},
        NetCase{"SetOn", {}, [](auto) { return sysSetDhcpStatus(0, 5); }, 0, untouched(),
                {{"management", "dhcp-status", "up"}}},
        NetCase{"SetOff", {}, [](auto) { return sysSetDhcpStatus(0, 0); }, 0, untouched(),
                {{"management", "dhcp-status", "down"}}},
        NetCase{"SetOtherIndexWritesNothing", {}, [](auto) { return sysSetDhcpStatus(1, 1); },
                -1, untouched(), {}},
        NetCase{"LinkLocal", {{"management", "ip", "169.254.3.4"}},
                [](auto) { return sysIsLinkLocalIp(0); }, 1, untouched(), {}},
        NetCase{"NotLinkLocalSecondOctet", {{"management", "ip", "169.253.3.4"}},
                [](auto) { return sysIsLinkLocalIp(0); }, 0, untouched(), {}},
        NetCase{"NotLinkLocalShifted", {{"management", "ip", "10.169.254.1"}},
                [](auto) { return sysIsLinkLocalIp(0); }, 0, untouched(), {}},
        NetCase{"LinkLocalIgnoresDhcp",
                {{"management", "ip", "169.254.0.9"}, {"management", "dhcp-status", "down"}},
                [](auto) { return sysIsLinkLocalIp(0); }, 1, untouched(), {}}),
    [](const auto &tp) { return std::string(tp.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Ipv6Get, SysNet,
    ::testing::Values(
        NetCase{"AddrOffLeavesField",
                {{"management", "ipv6-status", "down"},
                 {"management", "ipv6-autoconfig-status", "down"},
                 {"management", "static-ipv6", "2001:db8::1"}},
                [](auto f) { return sysGetIpv6Addr(0, f); }, 0, untouched(), {}},
        NetCase{"GatewayOffLeavesField",
                {{"management", "ipv6-status", "down"},
                 {"management", "ipv6-autoconfig-status", "down"},
                 {"static-ipv6-route", "gateway", "2001:db8::fe"}},
                [](auto f) { return sysGetIpv6Gateway(0, f); }, 0, untouched(), {}},
        NetCase{"AddrStatic", with(kIpv6Static, {{"management", "static-ipv6", "2001:db8::5"}}),
                [](auto f) { return sysGetIpv6Addr(0, f); }, 0, v6("2001:db8::5"), {}},
        NetCase{"AddrAutoFirstOfLines",
                with(kIpv6Auto,
                     {{"management", "autoconfig-ipv6-global-all", "2001:db8::a\n2001:db8::b"},
                      {"management", "static-ipv6", "2001:db8::5"}}),
                [](auto f) { return sysGetIpv6Addr(0, f); }, 0, v6("2001:db8::a"), {}},
        NetCase{"AddrAutoFirstAfterBlanks",
                with(kIpv6Auto,
                     {{"management", "autoconfig-ipv6-global-all", "  2001:db8::c 2001:db8::d"}}),
                [](auto f) { return sysGetIpv6Addr(0, f); }, 0, v6("2001:db8::c"), {}},
        NetCase{"AddrAutoEmpty", kIpv6Auto, [](auto f) { return sysGetIpv6Addr(0, f); }, -1,
                untouched(), {}},
        NetCase{"AddrAutoOnlySeparators",
                with(kIpv6Auto, {{"management", "autoconfig-ipv6-global-all", " \n "}}),
                [](auto f) { return sysGetIpv6Addr(0, f); }, -1, untouched(), {}},
        NetCase{"AddrUnparsable", with(kIpv6Static, {{"management", "static-ipv6", "fe80::zz"}}),
                [](auto f) { return sysGetIpv6Addr(0, f); }, 0, untouched(), {}},
        NetCase{"GatewayAuto",
                with(kIpv6Auto, {{"management", "ipv6-default-gateway", "fe80::1"},
                                 {"static-ipv6-route", "gateway", "2001:db8::fe"}}),
                [](auto f) { return sysGetIpv6Gateway(0, f); }, 0, v6("fe80::1"), {}},
        NetCase{"GatewayStatic",
                with(kIpv6Static, {{"management", "ipv6-default-gateway", "fe80::1"},
                                   {"static-ipv6-route", "gateway", "2001:db8::fe"}}),
                [](auto f) { return sysGetIpv6Gateway(0, f); }, 0, v6("2001:db8::fe"), {}},
        NetCase{"GatewayIsNotTokenised",
                with(kIpv6Auto,
                     {{"management", "ipv6-default-gateway", "fe80::1 fe80::2"}}),
                [](auto f) { return sysGetIpv6Gateway(0, f); }, 0, untouched(), {}},
        NetCase{"GatewayStaticEmpty", kIpv6Static,
                [](auto f) { return sysGetIpv6Gateway(0, f); }, -1, untouched(), {}},
        NetCase{"PrefixLen", {{"management", "static-ipv6-prefix-length", "64"}},
                [](auto) { return sysGetIpv6PrefixLen(0); }, 64, untouched(), {}},
        NetCase{"PrefixLenLowEightBits", {{"management", "static-ipv6-prefix-length", "300"}},
                [](auto) { return sysGetIpv6PrefixLen(0); }, 44, untouched(), {}},
        NetCase{"PrefixLenLeadingDigits", {{"management", "static-ipv6-prefix-length", "48x"}},
                [](auto) { return sysGetIpv6PrefixLen(0); }, 48, untouched(), {}},
        NetCase{"PrefixLenNotANumber", {{"management", "static-ipv6-prefix-length", "abc"}},
                [](auto) { return sysGetIpv6PrefixLen(0); }, 0, untouched(), {}},
        NetCase{"PrefixLenEmpty", {}, [](auto) { return sysGetIpv6PrefixLen(0); }, 0,
                untouched(), {}},
        NetCase{"PrefixLenWhileIpv6Off",
                {{"management", "ipv6-status", "down"},
                 {"management", "ipv6-autoconfig-status", "up"},
                 {"management", "static-ipv6-prefix-length", "56"}},
                [](auto) { return sysGetIpv6PrefixLen(0); }, 56, untouched(), {}},
        NetCase{"AutoconfigUp", {{"management", "ipv6-autoconfig-status", "up"}},
                [](auto) { return sysGetIpv6Autoconfig(0); }, 1, untouched(), {}},
        NetCase{"AutoconfigDown", {{"management", "ipv6-autoconfig-status", "down"}},
                [](auto) { return sysGetIpv6Autoconfig(0); }, 2, untouched(), {}},
        NetCase{"AutoconfigMissing", {}, [](auto) { return sysGetIpv6Autoconfig(0); }, 2,
                untouched(), {}}),
    [](const auto &tp) { return std::string(tp.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Ipv6Set, SysNet,
    ::testing::Values(
        NetCase{"AutoconfigOn", {}, [](auto) { return sysSetIpv6Autoconfig(0, 1); }, 0,
                untouched(), {{"management", "ipv6-autoconfig-status", "up"}}},
        NetCase{"AutoconfigAnyOtherIsOff", {}, [](auto) { return sysSetIpv6Autoconfig(0, 7); },
                0, untouched(), {{"management", "ipv6-autoconfig-status", "down"}}},
        NetCase{"AddrRefusedWhileAuto", kIpv6Auto,
                [](auto) { return sysSetIpv6Addr(0, arg(kV6Addr)); }, -1, untouched(), {}},
        NetCase{"PrefixRefusedWhileAuto", kIpv6Auto,
                [](auto) { return sysSetIpv6PrefixLen(0, 64); }, -1, untouched(), {}},
        NetCase{"GatewayRefusedWhileAuto", kIpv6Auto,
                [](auto) { return sysSetIpv6Gateway(0, arg(kV6Addr)); }, -1, untouched(), {}},
        NetCase{"AddrRefusedWithoutAutoconfigSetting", {},
                [](auto) { return sysSetIpv6Addr(0, arg(kV6Addr)); }, -1, untouched(), {}},
        NetCase{"Addr", kIpv6Static, [](auto) { return sysSetIpv6Addr(0, arg(kV6Addr)); }, 0,
                untouched(), {{"management", "static-ipv6", "2001:db8::1"}}},
        NetCase{"AddrUnspecifiedRefused", kIpv6Static,
                [](auto) { return sysSetIpv6Addr(0, arg(kV6Zero)); }, -1, untouched(), {}},
        NetCase{"PrefixLen", kIpv6Static, [](auto) { return sysSetIpv6PrefixLen(0, 64); }, 0,
                untouched(), {{"management", "static-ipv6-prefix-length", "64"}}},
        NetCase{"PrefixLenUnchecked", kIpv6Static,
                [](auto) { return sysSetIpv6PrefixLen(0, 300); }, 0, untouched(),
                {{"management", "static-ipv6-prefix-length", "300"}}},
        NetCase{"Gateway", kIpv6Static, [](auto) { return sysSetIpv6Gateway(0, arg(kV6Addr)); },
                0, untouched(), {{"static-ipv6-route", "gateway", "2001:db8::1"}}},
        NetCase{"GatewayZeroClears", kIpv6Static,
                [](auto) { return sysSetIpv6Gateway(0, arg(kV6Zero)); }, 0, untouched(),
                {{"static-ipv6-route", "gateway", ""}}}),
    [](const auto &tp) { return std::string(tp.param.name); });

class Dns2Trace : public ::testing::Test {
protected:
    void SetUp() override { store().clear(); }
    void TearDown() override { g_debugLevel = 0; }
};

TEST_F(Dns2Trace, PrintsTheValueInDebugMode) {
    store().set("host", "dns-via-dhcp", "up");
    store().set("host", "dns-2", "10.0.0.2");
    g_debugLevel = 1;
    Field f{};
    testing::internal::CaptureStderr();
    EXPECT_EQ(0, sysGetDns2(f));
    EXPECT_EQ("tarnd: DNS2=10.0.0.2\n", testing::internal::GetCapturedStderr());
}

TEST_F(Dns2Trace, EmptyValuePrintsNothing) {
    g_debugLevel = 1;
    Field f{};
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, sysGetDns2(f));
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    EXPECT_EQ(Field{}, f);
}

}  // namespace
