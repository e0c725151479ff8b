// export, plan and apply: a fleet managed from a manifest.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "credentials.h"
#include "errors.h"
#include "fleet.h"

namespace tarn {

namespace {

using Json = nlohmann::ordered_json;

// The exit status of a plan with changes pending.
constexpr int kExitPending = 4;

// One device of a fleet run: found, read, planned, perhaps written.
struct Member {
    const ManifestDevice *want = nullptr;
    std::optional<Found> found;
    DevicePlan plan;
    bool missing = false;     // did not answer at all
    std::string error;        // could not be read or planned
    ExitCode code = kExitOk;  // of the error
    size_t written = 0;
    bool verified = false;
};

// Two hosts that answer as one MAC: nothing is read from or written to it.
void refuseConflicts(std::vector<Member> &members, const std::vector<Found> &seen) {
    for (Member &m : members) {
        const auto hosts = std::count_if(seen.begin(), seen.end(),
                                         [&](const Found &f) { return f.info.mac == m.want->mac; });
        if (hosts > 1) {
            m.error = conflictText(m.want->mac);
            m.code = kExitRefused;
        }
    }
}

bool needsCredentials(const Manifest &m) {
    return std::any_of(m.devices.begin(), m.devices.end(), [](const ManifestDevice &d) {
        const Reads r = readsFor(d);
        return r.ddns || r.time || r.wlan[0] || r.wlan[1];
    });
}

void fail(Member &m, const Error &e) {
    m.error = e.what();
    m.code = e.code();
}

// Reads and plans every device of the manifest, kFleetParallel at once.
std::vector<Member> planFleet(Session &s,
                              const Manifest &manifest,
                              SharedDiscovery &discovery,
                              const Credentials &cred,
                              bool writeOnly) {
    std::vector<Member> members(manifest.devices.size());
    forEachBounded(members.size(), kFleetParallel, [&](size_t i) {
        Member &m = members[i];
        m.want = &manifest.devices[i];
        try {
            m.found = discovery.locate(s, m.want->mac);
            if (!m.found) {
                m.missing = true;
                return;
            }
            Session device(deviceOptions(s, m.want->mac), *m.found, cred);
            m.plan = planDevice(*m.want, readState(device, readsFor(*m.want)), writeOnly);
        } catch (const Error &e) {
            fail(m, e);
        }
    });
    return members;
}

Json changeJson(const Change &c) {
    Json j{{"field", c.field}};
    if (c.secret)
        j["secret"] = true;
    else {
        j["from"] = c.from;
        j["to"] = c.to;
    }
    return j;
}

Json planJson(const std::vector<Member> &members,
              const std::vector<Found> &seen,
              const Manifest &m) {
    Json devices = Json::array(), missing = Json::array(), unmanaged = Json::array();
    size_t pending = 0;
    for (const Member &mem : members) {
        if (mem.missing) {
            missing.push_back(formatMac(mem.want->mac));
            continue;
        }
        Json changes = Json::array();
        for (const Change &c : mem.plan.changes)
            changes.push_back(changeJson(c));
        pending += mem.plan.changes.size();
        Json notes = mem.plan.notes;
        if (!mem.error.empty())
            notes.push_back("not planned: " + mem.error);
        devices.push_back({{"mac", formatMac(mem.want->mac)},
                           {"name", mem.found ? mem.found->info.name : ""},
                           {"changes", changes},
                           {"notes", notes}});
    }
    for (const Found &f : seen)
        if (!m.find(f.info.mac))
            unmanaged.push_back({{"mac", formatMac(f.info.mac)}, {"name", f.info.name}});
    return {
        {"devices", devices}, {"missing", missing}, {"unmanaged", unmanaged}, {"pending", pending}};
}

std::string quoted(const std::string &text) {
    return "\"" + terminalText(text) + "\"";
}

void printPlan(const std::vector<Member> &members,
               const std::vector<Found> &seen,
               const Manifest &m,
               FILE *out = stdout) {
    size_t pending = 0, touched = 0, answered = 0;
    std::string missing;
    for (const Member &mem : members) {
        const std::string mac = formatMac(mem.want->mac);
        if (mem.missing) {
            missing += (missing.empty() ? "" : ", ") + mac;
            continue;
        }
        const std::string label =
            mac + " (" + terminalText(mem.found ? mem.found->info.name : "") + ")";
        if (!mem.error.empty()) {
            std::fprintf(out, "%s: not planned: %s\n", label.c_str(),
                         terminalText(mem.error).c_str());
            continue;
        }
        answered++;
        if (mem.plan.changes.empty()) {
            std::fprintf(out, "%s: no changes\n", label.c_str());
        } else {
            std::fprintf(out, "%s:\n", label.c_str());
            touched++;
        }
        for (const Change &c : mem.plan.changes) {
            pending++;
            if (c.secret)
                std::fprintf(out, "  ~ %s: (changed)\n", c.field.c_str());
            else
                std::fprintf(out, "  ~ %s: %s -> %s\n", c.field.c_str(), quoted(c.from).c_str(),
                             quoted(c.to).c_str());
        }
        for (const std::string &note : mem.plan.notes)
            std::fprintf(out, "  note: %s\n", terminalText(note).c_str());
    }
    if (!missing.empty())
        std::fprintf(out, "did not answer: %s\n", missing.c_str());
    for (const Found &f : seen)
        if (!m.find(f.info.mac))
            std::fprintf(out, "not in the manifest: %s (%s)\n", formatMac(f.info.mac).c_str(),
                         terminalText(f.info.name).c_str());
    if (pending == 0)
        std::fprintf(out, "Nothing to change on %zu of %zu devices.\n", answered, members.size());
    else
        std::fprintf(out, "%zu %s pending on %zu of %zu devices.\n", pending,
                     pending == 1 ? "change" : "changes", touched, members.size());
}

// A manifest read and its devices planned: what plan and apply share.
struct FleetPlan {
    Manifest manifest;
    std::vector<Found> seen;
    Credentials cred;
    std::vector<Member> members;
};

// `writes`: credentials are needed also when no read needs them.
FleetPlan makePlan(Session &s, Args &a, bool writeOnly, bool writes) {
    FleetPlan p;
    const std::string path = a.positional("MANIFEST");
    a.finish();
    p.manifest = readManifest(path);
    if (p.manifest.devices.empty())
        throw UsageError(path + ": the manifest names no devices.");
    if (writes || needsCredentials(p.manifest))
        p.cred = s.credentials();
    SharedDiscovery discovery(s);
    p.members = planFleet(s, p.manifest, discovery, p.cred, writeOnly);
    p.seen = discovery.finish();
    refuseConflicts(p.members, p.seen);
    return p;
}

// The worst of the devices' errors: a manifest value tarn will not send
// (2), a device that refused or did not answer (1), none that answered (3).
std::optional<int> fleetFailure(const std::vector<Member> &members) {
    bool any = false, anyAnswered = false, usage = false;
    for (const Member &m : members) {
        anyAnswered = anyAnswered || !m.missing;
        any = any || m.missing || !m.error.empty();
        usage = usage || m.code == kExitUsage;
    }
    if (!anyAnswered)
        return kExitNoReply;
    if (usage)
        return kExitUsage;
    return any ? std::optional<int>(kExitRefused) : std::nullopt;
}

size_t pendingChanges(const std::vector<Member> &members) {
    size_t n = 0;
    for (const Member &m : members)
        n += m.error.empty() ? m.plan.changes.size() : 0;
    return n;
}

}  // namespace

int cmdPlan(Session &s, Args &a) {
    const bool writeOnly = a.flag("--write-only");
    const FleetPlan p = makePlan(s, a, writeOnly, false);
    if (s.options().json)
        std::printf("%s\n", dumpJson(planJson(p.members, p.seen, p.manifest)).c_str());
    else
        printPlan(p.members, p.seen, p.manifest);
    if (const std::optional<int> failure = fleetFailure(p.members))
        return *failure;
    return pendingChanges(p.members) == 0 ? kExitOk : kExitPending;
}

int cmdApply(Session &s, Args &a) {
    const bool writeOnly = a.flag("--write-only");
    const bool yes = a.flag("--yes");
    FleetPlan p = makePlan(s, a, writeOnly, true);
    const bool json = s.options().json;
    const size_t pending = pendingChanges(p.members);
    if (!json)
        printPlan(p.members, p.seen, p.manifest);
    else if (pending > 0 && !yes && isatty(STDIN_FILENO))
        // The question needs the plan beside it; stdout keeps only the JSON.
        printPlan(p.members, p.seen, p.manifest, stderr);
    if (pending > 0)
        confirm(yes,
                "Apply " + std::to_string(pending) + (pending == 1 ? " change?" : " changes?"));
    forEachBounded(p.members.size(), kFleetParallel, [&](size_t i) {
        Member &m = p.members[i];
        if (m.missing || !m.error.empty())
            return;
        if (m.plan.changes.empty()) {
            m.verified = true;
            return;
        }
        try {
            Session device(deviceOptions(s, m.want->mac), *m.found, p.cred);
            m.verified = applyPlan(device, *m.want, m.plan, m.written);
            if (!m.verified)
                m.error = "accepted, but the device does not report every field as planned.";
        } catch (const NoReplyError &e) {
            m.error = std::string("stopped answering: ") + e.what();
            m.code = kExitRefused;
        } catch (const Error &e) {
            fail(m, e);
        }
    });
    bool allGood = true, anyAnswered = false;
    Json results = Json::array();
    std::vector<Record> rows;
    for (const Member &m : p.members) {
        if (m.missing) {
            allGood = false;
            continue;
        }
        anyAnswered = true;
        allGood = allGood && m.error.empty() && m.verified;
        const std::string mac = formatMac(m.want->mac);
        results.push_back({{"mac", mac},
                           {"changes", m.written},
                           {"verified", m.verified},
                           {"error", m.error.empty() ? Json() : Json(m.error)}});
        rows.push_back({text("device", mac), text("name", m.found ? m.found->info.name : ""),
                        number("changes", static_cast<int64_t>(m.written)),
                        boolean("verified", m.verified),
                        m.error.empty() ? null("error") : text("error", m.error)});
    }
    if (json)
        std::printf("%s\n", dumpJson({{"plan", planJson(p.members, p.seen, p.manifest)},
                                      {"results", results}})
                                .c_str());
    else
        std::printf("\n%s", toTable(rows, {{"device", "DEVICE"},
                                           {"name", "NAME"},
                                           {"changes", "CHANGES"},
                                           {"verified", "VERIFIED"},
                                           {"error", "ERROR"}})
                                .c_str());
    if (!anyAnswered)
        return kExitNoReply;
    return allGood ? kExitOk : kExitRefused;
}

namespace {

// NAME='value' lines that a shell reads with ". FILE", readable by the owner only.
void writeEnvFile(const std::string &path,
                  const std::vector<std::pair<std::string, std::string>> &vars) {
    // A link there could point the secrets at any file the user may write.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        throw UsageError("cannot write the secrets file " + path + ": " +
                         (errno == ELOOP ? std::string("it is a symbolic link, which tarn does "
                                                       "not follow for secrets")
                                         : std::string(std::strerror(errno))) +
                         ".");
    std::string text;
    for (const auto &[name, value] : vars) {
        std::string q;
        for (const char c : value)
            q += c == '\'' ? std::string("'\\''") : std::string(1, c);
        text += name + "='" + q + "'\n";
    }
    const bool ok = fchmod(fd, 0600) == 0 &&
                    write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    if (!ok)
        throw UsageError("cannot write the secrets file " + path + ".");
}

}  // namespace

int cmdExport(Session &s, Args &a) {
    const bool all = a.flag("--all");
    const std::optional<std::string> envFile = a.value("--env-file");
    a.finish();
    // -d names one device or several, separated by commas.
    std::vector<Mac> wanted;
    for (size_t start = 0; !s.options().device.empty() && start <= s.options().device.size();) {
        const std::string &list = s.options().device;
        const size_t comma = std::min(list.find(',', start), list.size());
        const std::optional<Mac> mac = parseMac(list.substr(start, comma - start));
        if (!mac)
            throw UsageError("export takes devices by MAC, not \"" +
                             list.substr(start, comma - start) + "\".");
        wanted.push_back(*mac);
        start = comma + 1;
    }
    if (all == !wanted.empty())
        throw UsageError("export needs --all or -d MAC[,MAC...], not both.");
    const Credentials cred = s.credentials();
    SharedDiscovery discovery(s);
    const std::vector<Found> seen = all ? discovery.finish() : std::vector<Found>{};
    if (all)
        for (const Found &f : seen)
            if (std::find(wanted.begin(), wanted.end(), f.info.mac) == wanted.end())
                wanted.push_back(f.info.mac);
    if (wanted.empty())
        throw NoReplyError("no device answered on the segment.");
    std::vector<FleetRead> reads = readFleet(s, discovery, wanted, cred, kReadEverything);
    const std::vector<DeviceState> read = keepRead(reads);
    if (read.empty())
        return kExitNoReply;
    std::vector<std::pair<std::string, std::string>> secrets;
    std::printf("%s", exportManifest(read, secrets).c_str());
    if (envFile)
        writeEnvFile(*envFile, secrets);
    if (!secrets.empty()) {
        std::string names;
        for (const auto &[name, value] : secrets)
            names += " " + name;
        std::fflush(stdout);
        std::fprintf(stderr, "tarn: the manifest takes its secrets from the environment:%s%s\n",
                     names.c_str(),
                     envFile ? (" (their values are in " + *envFile + ")").c_str() : "");
    }
    return read.size() == wanted.size() ? kExitOk : kExitRefused;
}

}  // namespace tarn
