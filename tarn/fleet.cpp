#include "fleet.h"

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <mutex>
#include <thread>

#include "codec.h"
#include "commands.h"
#include "errors.h"
#include "output.h"
#include "replies.h"
#include "security.h"

namespace tarn {

void forEachBounded(size_t count, size_t parallel, const std::function<void(size_t)> &work) {
    std::atomic<size_t> next{0};
    std::mutex mutex;
    std::exception_ptr first;
    // An exception may not leave a thread: the first one is thrown here.
    const auto worker = [&] {
        for (size_t i = next++; i < count; i = next++) {
            try {
                work(i);
            } catch (...) {
                const std::lock_guard lock(mutex);
                if (!first)
                    first = std::current_exception();
            }
        }
    };
    // Joined however this ends, also when a thread cannot be started.
    std::vector<std::jthread> threads;
    const size_t n = std::min(count, parallel);
    threads.reserve(n);
    for (size_t t = 0; t < n; t++)
        threads.emplace_back(worker);
    for (std::jthread &t : threads)
        t.join();
    if (first)
        std::rethrow_exception(first);
}

Reads readsFor(const ManifestDevice &d) {
    Reads r;
    r.ddns = d.ddns.has_value();
    r.time = d.time.has_value();
    for (size_t i = 0; i < kManifestRadios.size(); i++)
        r.wlan[i] = !d.wlan[i].empty();
    return r;
}

DeviceState readState(Session &s, const Reads &reads) {
    DeviceState st;
    st.found = s.target();
    std::vector<std::function<void(Session &)>> groups;
    if (reads.ddns)
        groups.emplace_back(
            [&](Session &x) { st.ddns = parseNetAdv(x.call(wire::OP_GET_NET_ADV, {}).body); });
    if (reads.time)
        groups.emplace_back(
            [&](Session &x) { st.time = parseDatetime(x.call(wire::OP_GET_DATETIME, {}).body); });
    for (size_t i = 0; i < kManifestRadios.size(); i++)
        if (reads.wlan[i])
            groups.emplace_back([&, i](Session &x) {
                st.wlan[i] = parseMultiSsid(
                    x.call(wire::OP_GET_MULTI_SSID, multiSsidGetBody(static_cast<uint8_t>(i)))
                        .body);
            });
    // The groups are read at once, each in a session of its own: every
    // answer is followed by a wait for a forged second one, and those
    // waits need not add up.
    const Credentials cred = groups.size() > 1 ? s.credentials() : Credentials{};
    forEachBounded(groups.size(), groups.size(), [&](size_t i) {
        if (i == 0) {
            groups[i](s);
            return;
        }
        Session own(s.options(), st.found, cred);
        groups[i](own);
    });
    return st;
}

Options deviceOptions(Session &s, const Mac &mac) {
    Options o = s.options();
    o.device = formatMac(mac);
    return o;
}

SharedDiscovery::~SharedDiscovery() {
    if (thread_.joinable())
        thread_.join();
}

std::optional<Found> SharedDiscovery::locate(Session &s, const Mac &mac) {
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] {
            return done_ || std::any_of(seen_.begin(), seen_.end(),
                                        [&](const Found &f) { return f.info.mac == mac; });
        });
        for (const Found &f : seen_)
            if (f.info.mac == mac)
                return f;
    }
    try {
        Session alone(deviceOptions(s, mac));
        return alone.target();
    } catch (const NoReplyError &) {
        return std::nullopt;
    }
}

std::vector<Found> SharedDiscovery::finish() {
    if (thread_.joinable())
        thread_.join();
    if (error_)
        std::rethrow_exception(error_);
    return all_;
}

void SharedDiscovery::run(Session &s) {
    std::vector<Found> all;
    std::exception_ptr error;
    try {
        all = s.discover(nullptr, [this](const Found &f) {
            const std::lock_guard lock(mutex_);
            seen_.push_back(f);
            changed_.notify_all();
        });
    } catch (...) {
        error = std::current_exception();
    }
    const std::lock_guard lock(mutex_);
    all_ = std::move(all);
    error_ = error;
    done_ = true;
    changed_.notify_all();
}

std::vector<FleetRead> readFleet(Session &s,
                                 SharedDiscovery &discovery,
                                 const std::vector<Mac> &macs,
                                 const Credentials &cred,
                                 const Reads &reads) {
    std::vector<FleetRead> out(macs.size());
    forEachBounded(macs.size(), kFleetParallel, [&](size_t i) {
        try {
            const std::optional<Found> f = discovery.locate(s, macs[i]);
            if (!f)
                throw NoReplyError(formatMac(macs[i]) + " did not answer.");
            Session device(deviceOptions(s, macs[i]), *f, cred);
            out[i].state = readState(device, reads);
        } catch (const Error &e) {
            out[i].error = e.what();
            out[i].code = e.code();
        }
    });
    const std::vector<Found> seen = discovery.finish();
    for (size_t i = 0; i < macs.size(); i++)
        if (std::count_if(seen.begin(), seen.end(),
                          [&](const Found &f) { return f.info.mac == macs[i]; }) > 1)
            out[i] = {std::nullopt, conflictText(macs[i]), kExitRefused};
    return out;
}

std::vector<DeviceState> keepRead(std::vector<FleetRead> &reads) {
    std::vector<DeviceState> kept;
    for (FleetRead &r : reads) {
        if (r.state)
            kept.push_back(std::move(*r.state));
        else
            std::fprintf(stderr, "tarn: %s\n", terminalText(r.error).c_str());
    }
    return kept;
}

bool DevicePlan::touches(Group g) const {
    return std::any_of(changes.begin(), changes.end(),
                       [g](const Change &c) { return c.group == g; });
}

namespace {

std::string dnsText(const BasicInfo &b) {
    if (!b.staticDns)
        return "dhcp";
    return formatIpv4(b.dns1) + (allZero(b.dns2) ? "" : ", " + formatIpv4(b.dns2));
}

std::string ipv6Text(const BasicInfo &b) {
    return b.ipv6Auto ? "auto" : formatIpv6(b.ipv6) + "/" + std::to_string(b.ipv6Prefix);
}

std::string ntpText(const DateTime &t) {
    return t.ntp ? t.ntpServer : "off";
}

std::string onOff(bool on) {
    return on ? "on" : "off";
}

// A stored VLAN id that fills its four bytes but reads as 1 to 4094 is whole.
bool wholeVlan(const SsidEntry &e) {
    const std::optional<long> id = vlanOf(e);
    return id && *id >= 1 && *id <= 4094;
}

std::string radioLabel(size_t radio, size_t vap) {
    return std::string("wlan ") + kManifestRadios[radio] + "/" + std::to_string(vap);
}

// Builds one device's plan: each comparison adds a change when the values
// differ; each refusal names the manifest line.
class Planner {
public:
    Planner(const ManifestDevice &want, const DeviceState &state, DevicePlan &plan)
        : want_(want), state_(state), p_(plan) {}

    void compare(Group g,
                 const std::string &field,
                 const std::string &from,
                 const std::string &to) {
        if (from != to)
            p_.changes.push_back({g, field, from, to});
    }
    void compareSecret(Group g,
                       const std::string &field,
                       const std::string &from,
                       const std::string &to) {
        if (from != to)
            p_.changes.push_back({g, field, {}, {}, true});
    }
    [[noreturn]] void refuse(const Location &where, const std::string &reason) const {
        throw UsageError(where.text() + ": " + formatMac(want_.mac) + ": " + reason);
    }
    void width(const std::string &value, size_t bytes, const std::string &field) const {
        if (value.size() > bytes)
            refuse(want_.where, field + " is longer than the device's field of " +
                                    std::to_string(bytes) + " bytes; tarn does not cut it.");
    }
    // A value read whole only when it does not fill its field; writing a
    // group sends every field of it back.
    void refuseCut(Group g,
                   const std::string &value,
                   size_t bytes,
                   const std::string &field) const {
        if (p_.touches(g) && mayBeCut(value, bytes))
            refuse(want_.where, field + " fills its " + std::to_string(bytes) +
                                    "-byte field, so it may have been cut, and tarn does not write "
                                    "back a value it may have read cut; give it in the manifest.");
    }

    void basic();
    void ddns();
    void time();
    void wlan(size_t radio);
    void writeOnly(bool send);

private:
    const ManifestDevice &want_;
    const DeviceState &state_;
    DevicePlan &p_;
};

void Planner::basic() {
    const BasicInfo cur = basicInfoFrom(state_.found.info);
    BasicInfo &b = p_.basic = cur;
    if (want_.name) {
        width(*want_.name, wire::basic_info::kSystemNameLen, "the name");
        if (want_.name->find_first_not_of(" \t") == std::string::npos)
            refuse(want_.where, "the name may not be empty: the device would store it as it is.");
        b.name = *want_.name;
    }
    if (want_.dhcp) {
        b.dhcp = *want_.dhcp;
        if (!b.dhcp) {
            b.ip = *want_.ip;
            b.mask = *want_.mask;
            b.gateway = want_.gateway.value_or(cur.gateway);
            try {
                checkStaticAddress(b);
            } catch (const UsageError &e) {
                refuse(want_.where, e.what());
            }
        }
    }
    if (want_.dns) {
        b.staticDns = !want_.dns->empty();
        if (b.staticDns) {
            b.dns1 = want_.dns->front();
            b.dns2 = want_.dns->size() > 1 ? want_.dns->back() : Ipv4{};
        }
    }
    if (want_.ipv6Auto) {
        b.ipv6Auto = *want_.ipv6Auto;
        if (!b.ipv6Auto)
            std::tie(b.ipv6, b.ipv6Prefix) = *want_.ipv6;
        if (!b.ipv6Auto && allZero(b.ipv6) && ipv6Text(b) != ipv6Text(cur))
            refuse(want_.where, "the device refuses the unspecified IPv6 address ::.");
    }
    compare(Group::Basic, "name", cur.name, b.name);
    compare(Group::Basic, "address", cur.dhcp ? "dhcp" : "static", b.dhcp ? "dhcp" : "static");
    if (!b.dhcp) {
        compare(Group::Basic, "ip", formatIpv4(cur.ip), formatIpv4(b.ip));
        compare(Group::Basic, "mask", formatIpv4(cur.mask), formatIpv4(b.mask));
        compare(Group::Basic, "gateway", formatIpv4(cur.gateway), formatIpv4(b.gateway));
    }
    compare(Group::Basic, "dns", dnsText(cur), dnsText(b));
    compare(Group::Basic, "ipv6", ipv6Text(cur), ipv6Text(b));
    if (!want_.name)
        refuseCut(Group::Basic, cur.name, wire::basic_info::kSystemNameLen, "the name");
}

void Planner::ddns() {
    const ManifestDdns &w = *want_.ddns;
    const Ddns &cur = *state_.ddns;
    Ddns &d = p_.ddns = cur;
    // The device switches dynamic DNS on whenever its account is written.
    d.enabled = true;
    const std::pair<const std::optional<std::string> *, std::string Ddns::*> texts[] = {
        {&w.user, &Ddns::user}, {&w.domain, &Ddns::domain}};
    for (const auto &[given, member] : texts)
        if (*given) {
            width(**given, wire::net_adv::kTextLen, "the dynamic-DNS account");
            d.*member = **given;
        }
    if (w.password) {
        d.password = w.password->resolve();
        width(d.password, wire::net_adv::kTextLen, "the dynamic-DNS password");
    }
    compare(Group::Ddns, "ddns", onOff(cur.enabled), onOff(d.enabled));
    compare(Group::Ddns, "ddns user", cur.user, d.user);
    compare(Group::Ddns, "ddns domain", cur.domain, d.domain);
    compareSecret(Group::Ddns, "ddns password", cur.password, d.password);
    if (!w.user)
        refuseCut(Group::Ddns, cur.user, wire::net_adv::kTextLen, "the dynamic-DNS user");
    if (!w.domain)
        refuseCut(Group::Ddns, cur.domain, wire::net_adv::kTextLen, "the dynamic-DNS domain");
    if (!w.password)
        refuseCut(Group::Ddns, cur.password, wire::net_adv::kTextLen, "the dynamic-DNS password");
}

void Planner::time() {
    const ManifestTime &w = *want_.time;
    const DateTime &cur = *state_.time;
    DateTime &t = p_.time = cur;
    if (w.zone) {
        if (*w.zone < -12 || *w.zone > 14)
            refuse(want_.where, "the time zone is whole hours from UTC, -12 to 14, not " +
                                    std::to_string(*w.zone) + ".");
        t.timeZone = static_cast<uint8_t>(static_cast<int8_t>(*w.zone));
    }
    if (w.dst)
        t.daylightSaving = *w.dst ? 1 : 0;
    if (w.ntp) {
        width(*w.ntp, wire::datetime::kNtpServerLen, "the NTP server");
        t.ntp = !w.ntp->empty();
        if (t.ntp)
            t.ntpServer = *w.ntp;
    }
    compare(Group::Time, "time zone", std::to_string(static_cast<int8_t>(cur.timeZone)),
            std::to_string(static_cast<int8_t>(t.timeZone)));
    compare(Group::Time, "time dst", onOff(cur.daylightSaving != 0), onOff(t.daylightSaving != 0));
    compare(Group::Time, "time ntp", ntpText(cur), ntpText(t));
    if (!w.ntp)
        refuseCut(Group::Time, cur.ntpServer, wire::datetime::kNtpServerLen, "the NTP server");
}

void Planner::wlan(size_t radio) {
    const Group g = radio == 0 ? Group::Wlan24 : Group::Wlan5;
    const MultiSsid &cur = *state_.wlan[radio];
    MultiSsid &m = p_.wlan[radio] = cur;
    for (const auto &[vap, net] : want_.wlan[radio]) {
        const std::string label = radioLabel(radio, vap);
        SsidEntry &e = m.entries[vap];
        const SecurityMode *before = securityOf(e);
        const SecurityMode *sec = net.security ? securityByName(*net.security) : before;
        if (net.security) {
            compare(g, label + " security", before ? std::string(before->name) : e.security,
                    *net.security);
            e.security = std::to_string(sec->code);
        }
        if (net.ssid) {
            width(*net.ssid, wire::multi_ssid::kSsidLen, "the SSID of " + label);
            if (net.ssid->empty())
                refuse(net.where,
                       label + ": the device keeps the old SSID when sent an empty one.");
            compare(g, label + " ssid", e.ssid, *net.ssid);
            e.ssid = *net.ssid;
        }
        if (net.vlan) {
            if (*net.vlan < 1 || *net.vlan > 4094)
                refuse(net.where,
                       label + ": a VLAN id is 1 to 4094, not " + std::to_string(*net.vlan) + ".");
            compare(g, label + " vlan", e.vlan, std::to_string(*net.vlan));
            e.vlan = std::to_string(*net.vlan);
        }
        if (net.key) {
            const std::string key = net.key->resolve();
            if (!sec || !sec->keyed)
                refuse(net.where, label +
                                      ": a key applies only to static-wep and WPA personal "
                                      "networks, and this one is " +
                                      (sec ? std::string(sec->name) : "of unknown security") + ".");
            if (const std::string problem = keyProblem(*sec, key); !problem.empty())
                refuse(net.key->where, label + ": " + problem);
            const bool same = before && before->keyed && e.key == key;
            if (same && mayBeCut(e.key, wire::multi_ssid::kKeyLen))
                p_.notes.push_back(label + " key fills the device's " +
                                   std::to_string(wire::multi_ssid::kKeyLen) +
                                   "-byte field, the most the protocol reads back: a longer key "
                                   "would read the same, so it is taken as unchanged.");
            if (!same)
                p_.changes.push_back({g, label + " key", {}, {}, true});
            e.key = key;
        } else if (net.security && sec->keyed && needsNewKey(before, *sec)) {
            refuse(net.where, label + " becomes " + std::string(sec->name) +
                                  ", which needs a key; give it as key: in the manifest.");
        }
    }
    if (!p_.touches(g))
        return;
    // The device replaces all eight networks at once. A keyless network is
    // sent no key; what was not given goes back as read, unless it may
    // have been read cut.
    for (size_t k = 0; k < kVapCount; k++) {
        SsidEntry &e = m.entries[k];
        const SecurityMode *sec = securityOf(e);
        if (sec && !sec->keyed)
            e.key.clear();
        const auto given = want_.wlan[radio].find(k);
        const ManifestNetwork *net = given == want_.wlan[radio].end() ? nullptr : &given->second;
        const std::string label = radioLabel(radio, k);
        if (!net || !net->ssid)
            refuseCut(g, e.ssid, wire::multi_ssid::kSsidLen, "the SSID of " + label);
        if ((!net || !net->vlan) && !wholeVlan(e))
            refuseCut(g, e.vlan, wire::multi_ssid::kVlanIdLen, "the VLAN id of " + label);
        if (!net || !net->key)
            refuseCut(g, e.key, wire::multi_ssid::kKeyLen, "the key of " + label);
    }
}

void Planner::writeOnly(bool send) {
    const std::optional<long> &vlan = want_.managementVlan;
    const std::optional<ManifestSnmp> &snmp = want_.snmp;
    if (!vlan && !snmp)
        return;
    if (!send) {
        p_.notes.push_back(
            "management_vlan and snmp are not compared: the protocol cannot read them back; "
            "apply --write-only sends them.");
        return;
    }
    constexpr const char *kUnread = "(cannot be read)";
    if (vlan) {
        if (*vlan < 0 || *vlan > 4094)
            refuse(want_.where,
                   "the management VLAN is 0 to 4094, not " + std::to_string(*vlan) + ".");
        p_.managementVlan = static_cast<uint32_t>(*vlan);
        p_.changes.push_back(
            {Group::ManagementVlan, "management_vlan", kUnread, std::to_string(*vlan)});
    }
    if (snmp) {
        // The device writes both communities with every request.
        if (!snmp->readCommunity || !snmp->writeCommunity)
            refuse(want_.where,
                   "snmp needs read_community and write_community: the device "
                   "writes both with every request.");
        p_.snmpOn = snmp->enabled.value_or(true);
        p_.readCommunity = snmp->readCommunity->resolve();
        p_.writeCommunity = snmp->writeCommunity->resolve();
        width(p_.readCommunity, wire::snmp::kCommunityLen, "the read community");
        width(p_.writeCommunity, wire::snmp::kCommunityLen, "the write community");
        p_.changes.push_back({Group::Snmp, "snmp", kUnread, onOff(p_.snmpOn)});
        p_.changes.push_back({Group::Snmp, "snmp communities", {}, {}, true});
    }
}

}  // namespace

DevicePlan planDevice(const ManifestDevice &want, const DeviceState &state, bool writeOnly) {
    DevicePlan p;
    p.mac = want.mac;
    p.name = state.found.info.name;
    Planner planner(want, state, p);
    planner.basic();
    if (want.ddns)
        planner.ddns();
    if (want.time)
        planner.time();
    for (size_t i = 0; i < kManifestRadios.size(); i++)
        if (!want.wlan[i].empty())
            planner.wlan(i);
    planner.writeOnly(writeOnly);
    return p;
}

bool applyPlan(Session &s, const ManifestDevice &want, const DevicePlan &plan, size_t &written) {
    const auto wrote = [&](Group g) {
        written +=
            static_cast<size_t>(std::count_if(plan.changes.begin(), plan.changes.end(),
                                              [g](const Change &c) { return c.group == g; }));
    };
    if (plan.touches(Group::Ddns)) {
        expectResultZero(s.call(wire::OP_SET_NET_ADV, netAdvBody(plan.ddns)),
                         "the dynamic-DNS settings");
        wrote(Group::Ddns);
    }
    if (plan.touches(Group::Time)) {
        // The request carries the clock too: the device's own, read just now.
        DateTime t = plan.time;
        t.stamp = parseDatetime(s.call(wire::OP_GET_DATETIME, {}).body).stamp;
        expectResultZero(s.call(wire::OP_SET_DATETIME, datetimeBody(t)), "the time settings");
        wrote(Group::Time);
    }
    for (size_t i = 0; i < kManifestRadios.size(); i++) {
        const Group g = i == 0 ? Group::Wlan24 : Group::Wlan5;
        if (!plan.touches(g))
            continue;
        // The device acknowledges every set; the read-back below tells.
        s.call(wire::OP_SET_MULTI_SSID, multiSsidSetBody(static_cast<uint8_t>(i), plan.wlan[i]));
        wrote(g);
    }
    if (plan.touches(Group::ManagementVlan)) {
        expectResultZero(s.call(wire::OP_VLAN_CONFIG, vlanBody(plan.managementVlan)),
                         "the management VLAN");
        wrote(Group::ManagementVlan);
    }
    if (plan.touches(Group::Snmp)) {
        expectResultZero(s.call(wire::OP_SNMP_CONFIG,
                                snmpBody(plan.snmpOn, plan.readCommunity, plan.writeCommunity)),
                         "the SNMP settings");
        wrote(Group::Snmp);
    }
    if (plan.touches(Group::Basic)) {
        expectResultZero(s.call(wire::OP_SET_BASIC_INFO, basicInfoBody(plan.basic)),
                         "the basic settings");
        wrote(Group::Basic);
        // The device may have moved: find it again before the commit.
        try {
            s.rediscover();
        } catch (const NoReplyError &) {
            throw RefusedError(
                "the address settings were written, but the device was not found "
                "at its new address, so they were not committed; run tarn -d " +
                formatMac(want.mac) + " commit.");
        }
    }
    expectResultZero(s.call(wire::OP_COMMIT, {}), "the commit");
    const DevicePlan after = planDevice(want, readState(s, readsFor(want)), false);
    return after.changes.empty();
}

namespace {

// An environment variable's name from a device text: letters, digits and _.
std::string variableName(const std::string &prefix, const std::string &text) {
    std::string name = prefix;
    for (const char c : text)
        name += std::isalnum(static_cast<unsigned char>(c))
                    ? static_cast<char>(std::toupper(static_cast<unsigned char>(c)))
                    : '_';
    return name;
}

// One variable per distinct value under a name: a key shared by the same
// SSID across the fleet is one variable.
class SecretNames {
public:
    explicit SecretNames(std::vector<std::pair<std::string, std::string>> &out) : out_(out) {}

    std::string nameFor(const std::string &base, const std::string &value) {
        for (int n = 1;; n++) {
            const std::string name = n == 1 ? base : base + "_" + std::to_string(n);
            const auto it = std::find_if(out_.begin(), out_.end(),
                                         [&](const auto &v) { return v.first == name; });
            if (it == out_.end()) {
                out_.emplace_back(name, value);
                return "env:" + name;
            }
            if (it->second == value)
                return "env:" + name;
        }
    }

private:
    std::vector<std::pair<std::string, std::string>> &out_;
};

void emitMaybeCut(YAML::Emitter &out, const std::string &value, size_t width) {
    out << value;
    if (mayBeCut(value, width))
        out << YAML::Comment("fills the device's field: may have been cut");
}

void emitDevice(YAML::Emitter &out, const DeviceState &st, SecretNames &secrets) {
    const DeviceInfo &info = st.found.info;
    out << YAML::Key << YAML::DoubleQuoted << formatMac(info.mac) << YAML::Value << YAML::BeginMap;
    out << YAML::Key << "name" << YAML::Value;
    emitMaybeCut(out, info.name, wire::basic_info::kSystemNameLen);
    out << YAML::Key << "address" << YAML::Value;
    if (info.dhcp)
        out << "dhcp";
    else
        out << YAML::Flow << YAML::BeginMap << YAML::Key << "ip" << YAML::Value
            << formatIpv4(info.ip) << YAML::Key << "mask" << YAML::Value << formatIpv4(info.mask)
            << YAML::Key << "gateway" << YAML::Value << formatIpv4(info.gateway) << YAML::EndMap;
    out << YAML::Key << "dns" << YAML::Value;
    if (!info.staticDns) {
        out << "dhcp";
    } else {
        out << YAML::Flow << YAML::BeginSeq << formatIpv4(info.dns1);
        if (!allZero(info.dns2))
            out << formatIpv4(info.dns2);
        out << YAML::EndSeq;
    }
    // A device without an IPv6 address of its own has none to export.
    if (info.ipv6Auto || !allZero(info.ipv6))
        out << YAML::Key << "ipv6" << YAML::Value << ipv6Text(basicInfoFrom(info));
    if (st.time) {
        const DateTime &t = *st.time;
        out << YAML::Key << "time" << YAML::Value << YAML::BeginMap << YAML::Key << "zone"
            << YAML::Value << static_cast<int>(static_cast<int8_t>(t.timeZone)) << YAML::Key
            << "dst" << YAML::Value << (t.daylightSaving != 0) << YAML::Key << "ntp" << YAML::Value;
        if (t.ntp)
            emitMaybeCut(out, t.ntpServer, wire::datetime::kNtpServerLen);
        else
            out << false;
        out << YAML::EndMap;
    }
    // The device switches dynamic DNS on when its account is written, so
    // only an account in use is exported.
    if (st.ddns && st.ddns->enabled) {
        const Ddns &d = *st.ddns;
        out << YAML::Key << "ddns" << YAML::Value << YAML::BeginMap;
        out << YAML::Key << "user" << YAML::Value;
        emitMaybeCut(out, d.user, wire::net_adv::kTextLen);
        out << YAML::Key << "password" << YAML::Value
            << secrets.nameFor(variableName("TARN_DDNS_", d.user), d.password);
        out << YAML::Key << "domain" << YAML::Value;
        emitMaybeCut(out, d.domain, wire::net_adv::kTextLen);
        out << YAML::EndMap;
    }
    bool anyRadio = false;
    for (size_t i = 0; i < kManifestRadios.size(); i++) {
        if (!st.wlan[i])
            continue;
        if (!anyRadio)
            out << YAML::Key << "wlan" << YAML::Value << YAML::BeginMap;
        anyRadio = true;
        out << YAML::Key << YAML::DoubleQuoted << kManifestRadios[i] << YAML::Value
            << YAML::BeginMap;
        for (size_t k = 0; k < kVapCount; k++) {
            const SsidEntry &e = st.wlan[i]->entries[k];
            // Networks without an SSID are unused; the main one is always listed.
            if (k != 0 && e.ssid.empty())
                continue;
            const SecurityMode *sec = securityOf(e);
            out << YAML::Key << k << YAML::Value << YAML::BeginMap;
            out << YAML::Key << "ssid" << YAML::Value << YAML::DoubleQuoted;
            emitMaybeCut(out, e.ssid, wire::multi_ssid::kSsidLen);
            if (wholeVlan(e))
                out << YAML::Key << "vlan" << YAML::Value << std::stoi(e.vlan);
            if (sec)
                out << YAML::Key << "security" << YAML::Value << std::string(sec->name);
            if (sec && sec->keyed) {
                out << YAML::Key << "key" << YAML::Value
                    << secrets.nameFor(e.ssid.empty()
                                           ? variableName("TARN_WLAN_", radioLabel(i, k).substr(5))
                                           : variableName("TARN_WLAN_", e.ssid),
                                       e.key);
                if (mayBeCut(e.key, wire::multi_ssid::kKeyLen))
                    out << YAML::Comment("the key fills the device's field: may have been cut");
            }
            out << YAML::EndMap;
        }
        out << YAML::EndMap;
    }
    if (anyRadio)
        out << YAML::EndMap;
    out << YAML::EndMap;
}

}  // namespace

std::string exportManifest(const std::vector<DeviceState> &states,
                           std::vector<std::pair<std::string, std::string>> &secrets) {
    SecretNames names(secrets);
    YAML::Emitter out;
    out << YAML::BeginMap << YAML::Key << "version" << YAML::Value << 1;
    out << YAML::Key << "devices" << YAML::Value << YAML::BeginMap;
    for (const DeviceState &st : states)
        emitDevice(out, st, names);
    out << YAML::EndMap << YAML::EndMap;
    std::string head = "# The settings of " + std::to_string(states.size()) +
                       (states.size() == 1 ? " device" : " devices") +
                       ", written by tarn export.\n";
    if (!secrets.empty()) {
        head += "# Secrets come from the environment:";
        for (const auto &[name, value] : secrets)
            head += " " + name;
        head += "\n";
    }
    return head + out.c_str() + "\n";
}

}  // namespace tarn
