#include "lint.h"

#include <algorithm>
#include <optional>

#include "errors.h"
#include "security.h"

namespace tarn {

namespace {

constexpr std::string_view kWep = "static-wep";

// Whether the network's security uses its key: an open or enterprise
// network keeps whatever key was last written, unused.
bool keyed(const ManifestNetwork &n) {
    const SecurityMode *mode = n.security ? securityByName(*n.security) : nullptr;
    return mode && mode->keyed;
}

std::string quoted(const std::string &s) {
    return "\"" + s + "\"";
}

class Linter {
public:
    explicit Linter(LintSource source) : source_(source) {}

    void device(const ManifestDevice &d);
    // The checks that compare devices, once every device is seen.
    void fleet();

    std::vector<Finding> findings;

private:
    void add(LintCode code, const ManifestDevice &d, Location where, std::string reason) {
        findings.push_back(
            {&kLintRules[static_cast<size_t>(code)], d.mac, std::move(where), std::move(reason)});
    }
    // The secret's value, or nothing when it cannot be read here.
    std::optional<std::string> value(const Secret &s) const {
        try {
            return s.resolve();
        } catch (const UsageError &) {
            return std::nullopt;
        }
    }
    // The network's key, or nothing when it has none or it cannot be read.
    std::optional<std::string> keyOf(const ManifestNetwork &n) const {
        return n.key ? value(*n.key) : std::nullopt;
    }
    void secret(const ManifestDevice &d, const std::optional<Secret> &s, const std::string &what);
    void vlan(const ManifestDevice &d,
              Location where,
              long id,
              const std::string &owner,
              const std::string &what);
    void network(const ManifestDevice &d, const std::string &label, const ManifestNetwork &n);

    LintSource source_;
    // Every network with an SSID, and the devices by static address and by
    // name, for the checks across the fleet.
    struct Seen {
        const ManifestDevice *device;
        std::string label;
        const ManifestNetwork *network;
    };
    std::vector<Seen> networks_;
    std::vector<const ManifestDevice *> devices_;
};

void Linter::secret(const ManifestDevice &d,
                    const std::optional<Secret> &s,
                    const std::string &what) {
    if (s && s->form == Secret::Form::Plain && source_ == LintSource::Manifest)
        add(LintCode::PlainSecret, d, s->where,
            what + " is written inline; take it from env:NAME or file:PATH.");
}

void Linter::vlan(const ManifestDevice &d,
                  Location where,
                  long id,
                  const std::string &owner,
                  const std::string &what) {
    if (id < 1 || id > 4094)
        add(LintCode::VlanRange, d, std::move(where),
            owner + " has the " + what + " " + std::to_string(id) + ", not a VLAN id (1 to 4094).");
}

void Linter::network(const ManifestDevice &d, const std::string &label, const ManifestNetwork &n) {
    const std::string name = label + (n.ssid ? " (" + quoted(*n.ssid) + ")" : "");
    secret(d, n.key, "the key of " + label);
    if (n.vlan)
        vlan(d, n.where, *n.vlan, label, "VLAN");
    if (n.ssid)
        networks_.push_back({&d, label, &n});
    if (!n.security)
        return;
    if (*n.security == "open")
        add(LintCode::OpenNetwork, d, n.where, name + " is open: anyone in range can join it.");
    else if (*n.security == kWep)
        add(LintCode::Wep, d, n.where, name + " uses WEP, which is broken; use wpa2-personal.");
    const SecurityMode *mode = securityByName(*n.security);
    const std::optional<std::string> key = keyOf(n);
    if (mode && mode->keyed && mode->name != kWep && key)
        if (const std::string problem = keyProblem(*mode, *key); !problem.empty())
            add(LintCode::WpaKeyLength, d, n.key->where, "the key of " + name + ": " + problem);
}

void Linter::device(const ManifestDevice &d) {
    devices_.push_back(&d);
    if (d.snmp && d.snmp->enabled.value_or(false))
        for (const std::optional<Secret> *c : {&d.snmp->readCommunity, &d.snmp->writeCommunity}) {
            const std::optional<std::string> v = *c ? value(**c) : std::nullopt;
            if (v == "public" || v == "private")
                add(LintCode::SnmpDefaultCommunity, d, (*c)->where,
                    "SNMP is on with the community " + quoted(*v) +
                        ", the first that anyone tries.");
        }
    if (d.snmp) {
        secret(d, d.snmp->readCommunity, "the SNMP read community");
        secret(d, d.snmp->writeCommunity, "the SNMP write community");
    }
    if (d.ddns)
        secret(d, d.ddns->password, "the dynamic-DNS password");
    if (d.managementVlan && *d.managementVlan != 0)  // 0: untagged
        vlan(d, d.where, *d.managementVlan, formatMac(d.mac), "management VLAN");
    if (d.ip && d.mask && d.gateway && !onSubnet(*d.ip, *d.mask, *d.gateway))
        add(LintCode::GatewayOffSubnet, d, d.where,
            "the gateway " + formatIpv4(*d.gateway) + " is outside " + formatIpv4(*d.ip) +
                " with mask " + formatIpv4(*d.mask) + ".");
    for (size_t r = 0; r < d.wlan.size(); r++)
        for (const auto &[vap, n] : d.wlan[r])
            network(d, "wlan " + std::string(kManifestRadios[r]) + "/" + std::to_string(vap), n);
}

void Linter::fleet() {
    // One finding per pair, at the second of the two.
    for (size_t i = 0; i < devices_.size(); i++)
        for (size_t j = 0; j < i; j++) {
            const ManifestDevice &a = *devices_[j], &b = *devices_[i];
            const bool staticA = a.ip && !a.dhcp.value_or(false);
            const bool staticB = b.ip && !b.dhcp.value_or(false);
            if (staticA && staticB && *a.ip == *b.ip)
                add(LintCode::DuplicateAddress, b, b.where,
                    formatMac(b.mac) + " has the static address " + formatIpv4(*b.ip) + " of " +
                        formatMac(a.mac) + ".");
            if (a.name && b.name && !b.name->empty() && *a.name == *b.name)
                add(LintCode::DuplicateName, b, b.where,
                    formatMac(b.mac) + " has the name " + quoted(*b.name) + " of " +
                        formatMac(a.mac) + ".");
        }
    // Each SSID's security against its first network that has one, and its
    // key against the first readable key of a keyed mode: clients roam
    // between the networks of one SSID and expect the same of both.
    for (size_t i = 0; i < networks_.size(); i++) {
        const Seen &n = networks_[i];
        const ManifestNetwork &b = *n.network;
        const auto earlier = [&](auto has) {
            const auto end = networks_.begin() + static_cast<long>(i);
            const auto it = std::find_if(networks_.begin(), end, [&](const Seen &o) {
                return *o.network->ssid == *b.ssid && has(*o.network);
            });
            return it == end ? nullptr : &*it;
        };
        const Seen *other = nullptr;
        const char *differs = nullptr;
        if (b.security)
            if (const Seen *o = earlier([](const ManifestNetwork &a) { return a.security; });
                o && o->network->security != b.security) {
                other = o;
                differs = "security";
            }
        if (const std::optional<std::string> key = keyOf(b); !differs && key && keyed(b))
            if (const Seen *o = earlier(
                    [&](const ManifestNetwork &a) { return keyed(a) && keyOf(a).has_value(); });
                o && keyOf(*o->network) != key) {
                other = o;
                differs = "key";
            }
        if (differs)
            add(LintCode::SsidMismatch, *n.device, b.where,
                "SSID " + quoted(*b.ssid) + " on " + formatMac(n.device->mac) + " " + n.label +
                    " has another " + differs + " than on " + formatMac(other->device->mac) + " " +
                    other->label + ".");
    }
}

}  // namespace

std::vector<Finding> lintFleet(const Manifest &m, LintSource source) {
    Linter l(source);
    for (const ManifestDevice &d : m.devices)
        l.device(d);
    l.fleet();
    return std::move(l.findings);
}

}  // namespace tarn
