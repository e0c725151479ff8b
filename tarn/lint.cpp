#include "lint.h"

#include <algorithm>
#include <optional>

#include "errors.h"

namespace tarn {

namespace {

const LintRule &rule(std::string_view code) {
    for (const LintRule &r : kLintRules)
        if (r.code == code)
            return r;
    throw std::logic_error("no lint rule " + std::string(code));
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
    void add(std::string_view code, const ManifestDevice &d, Location where, std::string reason) {
        findings.push_back({&rule(code), d.mac, std::move(where), std::move(reason)});
    }
    // The secret's value, or nothing when it cannot be read here.
    std::optional<std::string> value(const Secret &s) const {
        try {
            return s.resolve();
        } catch (const UsageError &) {
            return std::nullopt;
        }
    }
    void secret(const ManifestDevice &d, const std::optional<Secret> &s, const std::string &what);
    void vlan(const ManifestDevice &d, Location where, long id, const std::string &what);
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
        add("plain-secret", d, s->where,
            what + " is written inline; take it from env:NAME or file:PATH.");
}

void Linter::vlan(const ManifestDevice &d, Location where, long id, const std::string &what) {
    if (id < 1 || id > 4094)
        add("vlan-range", d, std::move(where),
            what + " " + std::to_string(id) + " is not a VLAN id (1 to 4094).");
}

void Linter::network(const ManifestDevice &d, const std::string &label, const ManifestNetwork &n) {
    const std::string name = label + (n.ssid ? " (" + quoted(*n.ssid) + ")" : "");
    secret(d, n.key, "the key of " + label);
    if (n.vlan)
        vlan(d, n.where, *n.vlan, "the VLAN of " + label);
    if (n.ssid)
        networks_.push_back({&d, label, &n});
    if (!n.security)
        return;
    if (*n.security == "open")
        add("open-network", d, n.where, name + " is open: anyone in range can join it.");
    else if (*n.security == "static-wep")
        add("wep", d, n.where, name + " uses WEP, which is broken; use wpa2-personal.");
    const std::optional<std::string> key = n.key ? value(*n.key) : std::nullopt;
    if (n.security->ends_with("-personal") && key && (key->size() < 8 || key->size() > 16))
        add("wpa-key-length", d, n.key->where,
            "the key of " + name + " has " + std::to_string(key->size()) +
                " bytes; WPA takes 8 or more, and the device's field holds 16.");
}

void Linter::device(const ManifestDevice &d) {
    devices_.push_back(&d);
    if (d.snmp && d.snmp->enabled.value_or(false))
        for (const std::optional<Secret> *c : {&d.snmp->readCommunity, &d.snmp->writeCommunity}) {
            const std::optional<std::string> v = *c ? value(**c) : std::nullopt;
            if (v == "public" || v == "private")
                add("snmp-default-community", d, (*c)->where,
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
        vlan(d, d.where, *d.managementVlan, "the management VLAN");
    if (d.ip && d.mask && d.gateway && !allZero(*d.gateway)) {
        bool same = true;
        for (size_t i = 0; i < d.ip->size(); i++)
            same = same && ((*d.ip)[i] & (*d.mask)[i]) == ((*d.gateway)[i] & (*d.mask)[i]);
        if (!same)
            add("gateway-off-subnet", d, d.where,
                "the gateway " + formatIpv4(*d.gateway) + " is outside " + formatIpv4(*d.ip) +
                    " with mask " + formatIpv4(*d.mask) + ".");
    }
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
                add("duplicate-address", b, b.where,
                    formatMac(b.mac) + " has the static address " + formatIpv4(*b.ip) + " of " +
                        formatMac(a.mac) + ".");
            if (a.name && b.name && *a.name == *b.name)
                add("duplicate-name", b, b.where,
                    formatMac(b.mac) + " has the name " + quoted(*b.name) + " of " +
                        formatMac(a.mac) + ".");
        }
    // Each SSID against its first network: clients roam between the
    // networks of one SSID and expect the same security and key.
    for (size_t i = 0; i < networks_.size(); i++) {
        const Seen &n = networks_[i];
        const auto first =
            std::find_if(networks_.begin(), networks_.begin() + static_cast<long>(i),
                         [&](const Seen &o) { return *o.network->ssid == *n.network->ssid; });
        if (first == networks_.begin() + static_cast<long>(i))
            continue;
        const ManifestNetwork &a = *first->network, &b = *n.network;
        // Keys that cannot be read here are not compared.
        const std::optional<std::string> keyA = a.key ? value(*a.key) : std::nullopt;
        const std::optional<std::string> keyB = b.key ? value(*b.key) : std::nullopt;
        const char *differs = a.security && b.security && a.security != b.security ? "security"
                              : keyA && keyB && keyA != keyB                       ? "key"
                                                                                   : nullptr;
        if (differs)
            add("ssid-mismatch", *n.device, b.where,
                "SSID " + quoted(*b.ssid) + " on " + formatMac(n.device->mac) + " " + n.label +
                    " has another " + differs + " than on " + formatMac(first->device->mac) + " " +
                    first->label + ".");
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
