// tarn lint: a manifest's settings, or the settings its devices report,
// checked against the rules of lint.h.
#include <charconv>
#include <cstdio>

#include "commands.h"
#include "errors.h"
#include "lint.h"
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
ManifestDevice reported(Session &s, const Mac &mac) {
    const DeviceInfo &info = s.target().info;
    ManifestDevice d;
    d.mac = mac;
    d.where.file = formatMac(mac);
    d.name = info.name;
    d.dhcp = info.dhcp;
    d.ip = info.ip;
    d.mask = info.mask;
    d.gateway = info.gateway;
    for (uint8_t r = 0; r < kManifestRadios.size(); r++) {
        const MultiSsid m =
            parseMultiSsid(s.call(wire::OP_GET_MULTI_SSID, multiSsidGetBody(r)).body);
        for (size_t vap = 0; vap < kVapCount; vap++) {
            const SsidEntry &e = m.entries[vap];
            if (e.ssid.empty())  // a network not in use
                continue;
            ManifestNetwork &n = d.wlan[r][vap];
            n.where = d.where;
            n.ssid = e.ssid;
            long vlan = 0;
            if (std::from_chars(e.vlan.data(), e.vlan.data() + e.vlan.size(), vlan).ec ==
                std::errc())
                n.vlan = vlan;
            unsigned code = 0;
            std::from_chars(e.security.data(), e.security.data() + e.security.size(), code);
            if (const SecurityMode *mode = securityByCode(code))
                n.security = std::string(mode->name);
            n.key = Secret{Secret::Form::Plain, e.key, d.where};
        }
    }
    return d;
}

}  // namespace

int cmdLint(Session &s, Args &a) {
    const std::string path = a.positional("manifest");
    const bool live = a.flag("--live");
    a.finish();
    Manifest m = readManifest(path);
    if (live) {
        for (ManifestDevice &d : m.devices) {
            Options o = s.options();
            o.device = formatMac(d.mac);
            Session device(o);
            d = reported(device, d.mac);
        }
    }
    const std::vector<Finding> findings =
        lintFleet(m, live ? LintSource::Devices : LintSource::Manifest);
    std::vector<Record> records;
    size_t errors = 0;
    for (const Finding &f : findings) {
        const char *severity = severityWord(f.rule->severity);
        errors += f.rule->severity == Severity::Error;
        if (!s.options().json)
            std::printf("%s: %s: %s [%s]\n", terminalText(f.where.text()).c_str(), severity,
                        terminalText(f.reason).c_str(), std::string(f.rule->code).c_str());
        records.push_back({text("code", std::string(f.rule->code)), text("severity", severity),
                           text("mac", formatMac(f.mac)), text("location", f.where.text()),
                           text("reason", f.reason)});
    }
    const size_t warnings = findings.size() - errors;
    if (s.options().json)
        std::printf("%s", toJson(records).c_str());
    else
        std::printf("%zu error%s, %zu warning%s\n", errors, errors == 1 ? "" : "s", warnings,
                    warnings == 1 ? "" : "s");
    return errors > 0 ? kExitRefused : kExitOk;
}

}  // namespace tarn
