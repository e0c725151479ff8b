// tarn lint: a manifest's settings, or the settings its devices report,
// checked against the rules of lint.h.
#include <cstdio>

#include "commands.h"
#include "errors.h"
#include "fleet.h"
#include "lint.h"
#include "output.h"
#include "security.h"

namespace tarn {

namespace {

const char *severityWord(Severity s) {
    switch (s) {
    case Severity::Error:
        return "error";
    case Severity::Warning:
        return "warning";
    }
    return "error";
}

// A device as it reports itself, in the manifest's terms: its secrets are
// the values read, written as "plain:" since they are no references.
ManifestDevice reported(const DeviceState &st) {
    const DeviceInfo &info = st.found.info;
    ManifestDevice d;
    d.mac = info.mac;
    d.where.file = formatMac(info.mac);
    d.name = info.name;
    d.dhcp = info.dhcp;
    d.ip = info.ip;
    d.mask = info.mask;
    d.gateway = info.gateway;
    for (size_t r = 0; r < kManifestRadios.size(); r++) {
        for (size_t vap = 0; vap < kVapCount; vap++) {
            const SsidEntry &e = st.wlan[r]->entries[vap];
            if (e.ssid.empty())  // a network not in use
                continue;
            ManifestNetwork &n = d.wlan[r][vap];
            n.where = d.where;
            n.ssid = e.ssid;
            n.vlan = vlanOf(e);
            if (const SecurityMode *mode = securityOf(e))
                n.security = std::string(mode->name);
            n.key = Secret{Secret::Form::Plain, e.key, d.where};
        }
    }
    return d;
}

// Replaces each device of the manifest with what it reports. A device
// that cannot be read is left out, named on standard error and in
// `unread`; returns the exit status of one such.
int readDevices(Session &s, Manifest &m, std::vector<Mac> &unread) {
    std::vector<Mac> macs;
    for (const ManifestDevice &d : m.devices)
        macs.push_back(d.mac);
    const Credentials cred = s.credentials();
    SharedDiscovery discovery(s);
    std::vector<FleetRead> read =
        readFleet(s, discovery, macs, cred, Reads{false, false, {true, true}});
    int status = kExitOk;
    for (size_t i = 0; i < read.size(); i++)
        if (!read[i].state) {
            unread.push_back(macs[i]);
            status = read[i].code;
        }
    m.devices.clear();
    for (const DeviceState &st : keepRead(read))
        m.devices.push_back(reported(st));
    return status;
}

}  // namespace

int cmdLint(Session &s, Args &a) {
    const std::string path = a.positional("manifest");
    const bool live = a.flag("--live");
    a.finish();
    Manifest m = readManifest(path);
    std::vector<Mac> unread;
    const int unreadStatus = live ? readDevices(s, m, unread) : kExitOk;
    const std::vector<Finding> findings =
        lintFleet(m, live ? LintSource::Devices : LintSource::Manifest);
    nlohmann::ordered_json json{{"findings", nlohmann::ordered_json::array()},
                                {"unread", nlohmann::ordered_json::array()}};
    size_t errors = 0;
    for (const Finding &f : findings) {
        const char *severity = severityWord(f.rule->severity);
        errors += f.rule->severity == Severity::Error;
        if (!s.options().json)
            std::printf("%s: %s: %s [%s]\n", terminalText(f.where.text()).c_str(), severity,
                        terminalText(f.reason).c_str(), std::string(f.rule->code).c_str());
        json["findings"].push_back({{"code", f.rule->code},
                                    {"severity", severity},
                                    {"mac", formatMac(f.mac)},
                                    {"location", f.where.text()},
                                    {"reason", f.reason}});
    }
    for (const Mac &mac : unread)
        json["unread"].push_back(formatMac(mac));
    const size_t warnings = findings.size() - errors;
    if (s.options().json)
        std::printf("%s\n", dumpJson(std::move(json)).c_str());
    else
        std::printf("%zu error%s, %zu warning%s\n", errors, errors == 1 ? "" : "s", warnings,
                    warnings == 1 ? "" : "s");
    return errors > 0 ? kExitRefused : unreadStatus;
}

}  // namespace tarn
