// backup and restore: the configurations of the devices on the segment in
// one folder, one file per device named by its MAC, with a manifest of what
// was taken when; each run is a commit when the folder is a git work tree.
#include <cstdio>
#include <map>

#include "backup_repo.h"
#include "commands.h"
#include "errors.h"
#include "inventory.h"
#include "serving.h"
#include "transfer_flows.h"

namespace tarn {

namespace {

constexpr const char *kManifest = "manifest.json";

// The outcomes, in the order the commit message lists them.
constexpr std::array<std::string_view, 4> kOutcomes{"added", "changed", "unchanged", "failed"};

struct Taken {
    Found device;
    std::string file;
    std::string outcome;
    std::string reason;  // why it failed
    std::string at;      // RFC 3339, UTC
};

Record takenRecord(const Taken &t) {
    Record r{text("mac", formatMac(t.device.info.mac)),
             text("name", t.device.info.name),
             text("ipv4", formatIpv4(t.device.info.ip)),
             text("firmware", t.device.info.firmware),
             text("file", t.file),
             text("taken", t.at),
             text("outcome", t.outcome)};
    if (!t.reason.empty())
        r.push_back(text("reason", t.reason));
    return r;
}

// "backup: 1 changed, 2 unchanged", then the devices under each outcome.
std::string commitMessage(const std::vector<Taken> &taken) {
    std::string summary, body;
    for (const std::string_view outcome : kOutcomes) {
        std::string lines;
        size_t n = 0;
        for (const Taken &t : taken) {
            if (t.outcome != outcome)
                continue;
            n++;
            lines += "  " + formatMac(t.device.info.mac) + " " + t.device.info.name + " (" +
                     formatIpv4(t.device.info.ip) + ")" +
                     (t.reason.empty() ? "" : ": " + t.reason) + "\n";
        }
        if (n == 0)
            continue;
        summary += (summary.empty() ? "" : ", ") + std::to_string(n) + " " + std::string(outcome);
        body += "\n" + std::string(outcome) + ":\n" + lines;
    }
    return "backup: " + summary + "\n" + body;
}

// Every device of the segment once: a MAC that several hosts answer as
// names no one device, so none of them is taken.
std::vector<Found> segmentDevices(Session &s) {
    std::map<Mac, std::vector<Found>> byMac;
    for (const Found &f : s.discover())
        byMac[f.info.mac].push_back(f);
    std::vector<Found> devices;
    for (const auto &[mac, hosts] : byMac) {
        if (hosts.size() == 1)
            devices.push_back(hosts.front());
        else
            std::fprintf(stderr, "tarn: %zu hosts answer as %s; it is left out.\n", hosts.size(),
                         formatMac(mac).c_str());
    }
    return devices;
}

}  // namespace

int cmdBackup(Session &s, Args &a) {
    const bool all = a.flag("--all");
    const std::optional<std::string> to = a.value("--to");
    a.finish();
    if (!to)
        throw UsageError("backup needs --to DIR, the folder the configurations go to.");
    if (all == !s.options().device.empty())
        throw UsageError(
            "backup takes either --all, for every device on the segment, or -d DEVICE.");
    BackupRepo repo(*to);
    const std::vector<Found> devices = all ? segmentDevices(s) : std::vector<Found>{s.target()};
    if (devices.empty())
        throw NoReplyError("no device answered on " + Transport::listOf(s.interfaces()) +
                           " within " + s.timeoutText() + ".");
    std::vector<Taken> taken;
    std::vector<std::string> written;
    for (const Found &device : devices) {
        Taken t{device, backupFileName(device.info.mac), "failed", {}, {}};
        const std::optional<std::string> before = repo.read(t.file);
        progress("backing up " + formatMac(device.info.mac));
        try {
            s.adopt(device);
            backupInto(s, repo.dir());
            const std::optional<std::string> after = repo.read(t.file);
            t.outcome = !before ? "added" : before == after ? "unchanged" : "changed";
            written.push_back(t.file);
        } catch (const Error &e) {
            endProgress();
            std::fprintf(stderr, "tarn: %s\n", e.what());
            t.reason = e.what();
        }
        t.at = rfc3339(WallClock::now());
        taken.push_back(std::move(t));
    }
    endProgress();
    std::vector<Record> records;
    for (const Taken &t : taken)
        records.push_back(takenRecord(t));
    repo.write(kManifest, toJson(records) + "\n");
    written.push_back(kManifest);
    const std::string message = commitMessage(taken);
    if (repo.isGit()) {
        const std::string id = repo.commit(written, message);
        if (!s.options().json)
            std::printf("committed %s: %s\n", id.c_str(),
                        message.substr(0, message.find('\n')).c_str());
    }
    emitList(s, records,
             {{"mac", "MAC"}, {"name", "NAME"}, {"outcome", "OUTCOME"}, {"file", "FILE"}});
    const bool failed = written.size() != taken.size() + 1;
    return failed ? kExitRefused : kExitOk;
}

int cmdRestore(Session &s, Args &a) {
    const std::optional<std::string> from = a.value("--from");
    const std::optional<std::string> at = a.value("--at");
    if (!from)
        throw UsageError("restore needs --from DIR, the folder of backups.");
    const BackupRepo repo(*from);
    const std::string file = backupFileName(s.target().info.mac);
    std::optional<std::string> content = at ? repo.readAt(file, *at) : repo.read(file);
    if (!content)
        throw UsageError("there is no backup of " + formatMac(s.target().info.mac) + " in " +
                         repo.dir().string() + " (" + file + ").");
    return restoreContent(s, a, file, std::make_shared<const std::string>(std::move(*content)));
}

}  // namespace tarn
