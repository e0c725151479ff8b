// Checks of a fleet's settings for what is unwise rather than malformed:
// the manifest reader refuses what cannot be sent; lint finds what can be
// sent but should not be (an open network, a default SNMP community, two
// devices on one address).
#pragma once

#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "manifest.h"

namespace tarn {

enum class Severity { Error, Warning };

struct LintRule {
    std::string_view code;  // stable: scripts and CI filter on it
    Severity severity;
    std::string_view summary;
};

struct Finding {
    const LintRule *rule;
    Mac mac{};
    Location where;
    std::string reason;  // one line
};

// The settings as written in a manifest, or as the devices report them
// (then no secret is inline text, whatever its form).
enum class LintSource { Manifest, Devices };

// The rules, each the index of its entry in kLintRules.
enum class LintCode {
    SnmpDefaultCommunity,
    OpenNetwork,
    Wep,
    WpaKeyLength,
    SsidMismatch,
    DuplicateAddress,
    DuplicateName,
    GatewayOffSubnet,
    VlanRange,
    PlainSecret,
};

// Every rule, in the order of the manual's table and of LintCode.
inline constexpr LintRule kLintRules[] = {
    {"snmp-default-community", Severity::Error, "SNMP is on with the community public or private"},
    {"open-network", Severity::Warning, "a wireless network without security"},
    {"wep", Severity::Error, "a wireless network secured with WEP"},
    {"wpa-key-length", Severity::Error,
     "a WPA key the device cannot take (8 to 16 printable characters)"},
    {"ssid-mismatch", Severity::Error, "one SSID with different security or keys in the fleet"},
    {"duplicate-address", Severity::Error, "two devices with the same static address"},
    {"duplicate-name", Severity::Error, "two devices with the same name"},
    {"gateway-off-subnet", Severity::Error, "a gateway outside the address's subnet"},
    {"vlan-range", Severity::Error, "a VLAN id outside 1..4094"},
    {"plain-secret", Severity::Warning, "a key, password or community written inline"},
};
static_assert(std::size(kLintRules) == static_cast<size_t>(LintCode::PlainSecret) + 1);

// The findings of each device in the manifest's order, then those across
// the fleet. A secret that cannot be read here is not judged.
std::vector<Finding> lintFleet(const Manifest &m, LintSource source);

}  // namespace tarn
