// tarn lint: a manifest's settings, or the settings its devices report,
// checked against the rules of lint.h.
#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>

#include "commands.h"
#include "errors.h"
#include "fleet.h"
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
            long vlan = 0;
            if (std::from_chars(e.vlan.data(), e.vlan.data() + e.vlan.size(), vlan).ec ==
                std::errc())
                n.vlan = vlan;
            if (const SecurityMode *mode = securityByName(e.security))
                n.security = std::string(mode->name);
            n.key = Secret{Secret::Form::Plain, e.key, d.where};
        }
    }
    return d;
}

// Replaces each device of the manifest with what it reports, reading
// kFleetParallel at once. A device that cannot be read is left out and
// named on standard error; returns the exit status of one such.
int readDevices(Session &s, Manifest &m) {
    const std::vector<Found> seen = s.discover();
    const Credentials &cred = s.credentials();
    std::vector<std::optional<ManifestDevice>> read(m.devices.size());
    std::vector<std::string> failures(m.devices.size());
    std::atomic<int> status = kExitOk;
    forEachBounded(m.devices.size(), kFleetParallel, [&](size_t i) {
        const Mac &mac = m.devices[i].mac;
        const auto found = std::find_if(seen.begin(), seen.end(),
                                        [&](const Found &f) { return f.info.mac == mac; });
        try {
            if (found == seen.end())
                throw NoReplyError(formatMac(mac) + " did not answer discovery.");
            Options o = s.options();
            o.device = formatMac(mac);
            Session device(o, *found, cred);
            read[i] = reported(readState(device, Reads{false, false, {true, true}}));
        } catch (const Error &e) {
            failures[i] = e.what();
            status = e.code();
        }
    });
    std::vector<ManifestDevice> devices;
    for (size_t i = 0; i < read.size(); i++) {
        if (read[i])
            devices.push_back(std::move(*read[i]));
        else
            std::fprintf(stderr, "tarn: %s\n", terminalText(failures[i]).c_str());
    }
    m.devices = std::move(devices);
    return status;
}

}  // namespace

int cmdLint(Session &s, Args &a) {
    const std::string path = a.positional("manifest");
    const bool live = a.flag("--live");
    a.finish();
    Manifest m = readManifest(path);
    const int unread = live ? readDevices(s, m) : kExitOk;
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
    return errors > 0 ? kExitRefused : unread;
}

}  // namespace tarn
