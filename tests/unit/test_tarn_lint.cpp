// The lint rules over one manifest that holds each finding once, beside
// look-alikes that must pass.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <iterator>

#include "lint.h"

namespace tarn {
namespace {

constexpr const char *kFleet = R"(version: 1
devices:
  "02:00:00:00:00:01":
    name: lobby
    address: {ip: 192.0.2.11, mask: 255.255.255.0, gateway: 192.0.3.1}
    snmp: {enabled: true, read_community: "plain:public", write_community: env:TARN_LINT_UNSET}
    management_vlan: 0
    wlan:
      "2.4":
        0: {ssid: staff, security: wpa2-personal, key: "plain:12345678"}
        1: {ssid: guest, security: open}
        2: {ssid: old, security: static-wep, key: env:TARN_LINT_UNSET}
        3: {ssid: short, security: wpa-personal, key: "plain:1234567"}
        4: {ssid: iot, vlan: 4095}
  "02:00:00:00:00:02":
    name: lobby
    address: {ip: 192.0.2.11, mask: 255.255.255.0, gateway: 192.0.2.1}
    snmp: {enabled: false, read_community: env:TARN_LINT_UNSET, write_community: env:RW}
    wlan:
      "5":
        0: {ssid: staff, security: wpa2-personal, key: "plain:12345678"}
        1: {ssid: guest, security: wpa2-personal, key: env:TARN_LINT_UNSET}
        2: {ssid: short, key: env:TARN_LINT_UNSET}
  "02:00:00:00:00:03":
    address: dhcp
    management_vlan: 5000
    wlan:
      "5":
        0: {ssid: staff, security: wpa2-personal, key: env:TARN_LINT_OTHER}
        1: {ssid: long, security: wpa2-personal, key: env:TARN_LINT_OTHER}
)";

// Each finding as "code:line", with its reason when `reasons`; the
// variables of `env` are set while the rules read the keys.
using Env = std::vector<std::pair<const char *, const char *>>;
std::vector<std::string> lint(const char *yaml,
                              const Env &env,
                              bool reasons = false,
                              LintSource source = LintSource::Manifest) {
    const Manifest m = parseManifest(yaml, "fleet.yaml");
    for (const auto &[name, value] : env)
        setenv(name, value, 1);
    std::vector<std::string> found;
    for (const Finding &f : lintFleet(m, source))
        found.push_back(std::string(f.rule->code) + ":" + std::to_string(f.where.line) +
                        (reasons ? ": " + f.reason : ""));
    for (const auto &[name, value] : env)
        unsetenv(name);
    return found;
}

TEST(Lint, EachRuleFindsItsCaseAndOnlyThat) {
    const std::vector<std::string> expected{
        "snmp-default-community:6", "plain-secret:6",       "gateway-off-subnet:3",
        "plain-secret:10",          "open-network:11",      "wep:12",
        "plain-secret:13",          "wpa-key-length:13",    "vlan-range:14",
        "plain-secret:21",          "vlan-range:24",        "wpa-key-length:29",
        "wpa-key-length:30",        "duplicate-address:15", "duplicate-name:15",
        "ssid-mismatch:22",  // guest: open, then wpa2-personal
        "ssid-mismatch:29",  // staff: another key
    };
    EXPECT_EQ(lint(kFleet, {{"TARN_LINT_OTHER", "0123456789abcdefX"}}), expected);
    // What devices report is not written inline, whatever its form.
    std::vector<std::string> fromDevices;
    std::copy_if(expected.begin(), expected.end(), std::back_inserter(fromDevices),
                 [](const std::string &f) { return !f.starts_with("plain-secret:"); });
    EXPECT_EQ(lint(kFleet, {{"TARN_LINT_OTHER", "0123456789abcdefX"}}, false, LintSource::Devices),
              fromDevices);
    for (const LintRule &r : kLintRules)
        EXPECT_TRUE(std::any_of(expected.begin(), expected.end(), [&](const std::string &e) {
            return e.starts_with(std::string(r.code) + ":");
        })) << r.code;
}

// One SSID across the fleet: security against the first network that has
// one, keys against the first readable key of a keyed mode, never the
// leftover keys of open networks; empty names and the edges of the ranges
// pass.
constexpr const char *kRoaming = R"(version: 1
devices:
  "02:00:00:00:00:01":
    name: ""
    wlan:
      "2.4":
        0: {ssid: hall, key: env:TARN_LINT_UNSET, vlan: 1}
        1: {ssid: cafe, security: open, key: env:TARN_LINT_A}
        2: {ssid: lab, security: wpa2-personal, key: env:TARN_LINT_UNSET}
  "02:00:00:00:00:02":
    name: ""
    wlan:
      "2.4":
        0: {ssid: hall, security: wpa2-personal, key: env:TARN_LINT_A, vlan: 4094}
        1: {ssid: cafe, security: open, key: env:TARN_LINT_B}
        2: {ssid: lab, security: wpa2-personal, key: env:TARN_LINT_A}
  "02:00:00:00:00:03":
    wlan:
      "5":
        0: {ssid: hall, security: wpa-personal, key: env:TARN_LINT_B}
        1: {ssid: lab, security: wpa2-personal, key: env:TARN_LINT_B}
)";

TEST(Lint, OneSsidComparedWithItsFirstSecurityAndReadableKey) {
    const std::vector<std::string> expected{
        R"(open-network:8: wlan 2.4/1 ("cafe") is open: anyone in range can join it.)",
        R"(open-network:15: wlan 2.4/1 ("cafe") is open: anyone in range can join it.)",
        "ssid-mismatch:20: SSID \"hall\" on 02:00:00:00:00:03 wlan 5/0 has another security "
        "than on 02:00:00:00:00:02 wlan 2.4/0.",
        "ssid-mismatch:21: SSID \"lab\" on 02:00:00:00:00:03 wlan 5/1 has another key than on "
        "02:00:00:00:00:02 wlan 2.4/2.",
    };
    // TARN_LINT_A is the longest key the device takes.
    EXPECT_EQ(
        lint(kRoaming, {{"TARN_LINT_A", "0123456789abcdef"}, {"TARN_LINT_B", "bbbbbbbb"}}, true),
        expected);
}

}  // namespace
}  // namespace tarn
