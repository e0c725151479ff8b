// DNS, DHCP and IPv6 accessors against a real settings store: field bytes, results and exactly
// which settings each call writes. Plain setters are checked through the basic-info handler.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "sys_net.h"
#include "temp_store.h"

namespace {

using Field = std::array<uint8_t, 16>;
using Settings = std::vector<std::string>;  // "section.key=value"

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

const Field kV6Addr = v6("2001:db8::1");
const std::string kV6On = "management.ipv6-status=up";
const std::string kAutoOn = "management.ipv6-autoconfig-status=up";
const Settings kAuto{kV6On, kAutoOn}, kStatic{kV6On, "management.ipv6-autoconfig-status=down"};

// Getters write only their field, and nothing to the store. The rest of their answers show in
// the discovery reply in the sandbox.
TEST(SysNet, Getters) {
    using Call = std::function<int(std::span<uint8_t>)>;
    const Call dns2 = [](auto f) { return sysGetDns2(f); },
               addr6 = [](auto f) { return sysGetIpv6Addr(0, f); };
    const Call linkLocal = [](auto) { return sysIsLinkLocalIp(0); };
    Field low8 = untouched();  // a stored 300.1.2.3 keeps its low eight bits
    std::copy_n(std::array<uint8_t, 4>{44, 1, 2, 3}.begin(), 4, low8.begin());
    const std::string global = "management.autoconfig-ipv6-global-all=",
                      static5 = "management.static-ipv6=2001:db8::5";
    const struct {
        Settings settings;
        Call call;
        int result;
        Field field = untouched();  // after the call
    } cases[] = {
        {{"host.dns-via-dhcp=down", "host.dns-2=10.0.0.2"}, dns2, -1},
        {{"host.dns-via-dhcp=up", "host.dns-2=300.1.2.3"}, dns2, 0, low8},
        {{"management.dhcp-status=up"}, [](auto) { return sysGetDhcpStatus(1); }, -1},
        {{"management.ip=169.253.3.4"}, linkLocal, 0},
        {{"management.ip=10.169.254.1"}, linkLocal, 0},
        {{kV6On, kAutoOn, global + " \n2001:db8::a 2001:db8::b\n", static5},
         addr6,
         0,
         v6("2001:db8::a")},  // the first automatic address, not the static one
        {{kV6On, kAutoOn, global + " \n "}, addr6, -1},  // only separators
        {{kStatic[0], kStatic[1], "management.static-ipv6=fe80::zz"}, addr6, 0},
        {kStatic, [](auto f) { return sysGetIpv6Gateway(0, f); }, -1},
        {{}, [](auto) { return sysGetIpv6Autoconfig(0); }, 2},  // missing is off
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        store().clear();
        store().seed(c.settings);
        Field field = untouched();
        EXPECT_EQ(c.result, c.call(field));
        EXPECT_EQ(c.field, field);
        EXPECT_EQ(store().takeWrites(), Settings{});
    }
}

TEST(SysNet, Setters) {
    const std::string prefix = "management.static-ipv6-prefix-length=300";
    const struct {
        Settings settings;
        std::function<int()> call;
        int result;
        Settings writes{};
    } cases[] = {
        {{}, [] { return sysSetDhcpStatus(1, 1); }, -1},  // only interface 0
        {kAuto, [] { return sysSetIpv6Addr(0, kV6Addr); }, -1},
        {{}, [] { return sysSetIpv6Addr(0, kV6Addr); }, -1},  // no autoconfig setting
        {kAuto, [] { return sysSetIpv6PrefixLen(0, 64); }, -1},
        {kAuto, [] { return sysSetIpv6Gateway(0, kV6Addr); }, -1},
        {kStatic, [] { return sysSetIpv6Addr(0, Field{}); }, -1},            // unspecified
        {kStatic, [] { return sysSetIpv6PrefixLen(0, 300); }, 0, {prefix}},  // unchecked
        {kStatic, [] { return sysSetIpv6Gateway(0, Field{}); }, 0, {"static-ipv6-route.gateway="}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        store().clear();
        store().seed(c.settings);
        EXPECT_EQ(c.result, c.call());
        EXPECT_EQ(c.writes, store().takeWrites());
    }
}

}  // namespace
