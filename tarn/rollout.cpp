// tarn rollout: one firmware image across many devices, a canary first,
// then waves in parallel, halting as soon as too many have failed. A state
// file records each device's outcome, so that a halted rollout resumes
// where it stopped.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

#include "announcements.h"
#include "atomic_file.h"
#include "commands.h"
#include "errors.h"
#include "fleet.h"
#include "fwimage.h"
#include "manifest.h"
#include "records.h"
#include "serve_http.h"
#include "serving.h"
#include "sha256.h"
#include "upgrade.h"

namespace tarn {

namespace {

constexpr const char *kStateFile = "tarn-rollout.state";
constexpr std::string_view kStateHeader = "tarn-rollout 2";
// A wave's devices are upgraded by a thread each.
constexpr long kWaveLimit = 64;

enum class Outcome { Pending, Upgraded, Skipped, Failed };

struct OutcomeWord {
    Outcome outcome;
    std::string_view word;
};
constexpr OutcomeWord kOutcomeWords[] = {
    {Outcome::Pending, "pending"},
    {Outcome::Upgraded, "upgraded"},
    {Outcome::Skipped, "skipped"},
    {Outcome::Failed, "failed"},
};

std::string_view wordOf(Outcome o) {
    return std::find_if(std::begin(kOutcomeWords), std::end(kOutcomeWords),
                        [o](const OutcomeWord &w) { return w.outcome == o; })
        ->word;
}

std::optional<Outcome> outcomeOf(std::string_view word) {
    for (const OutcomeWord &w : kOutcomeWords)
        if (w.word == word)
            return w.outcome;
    return std::nullopt;
}

struct Device {
    explicit Device(const Mac &m, Outcome o = Outcome::Pending) : mac(m), outcome(o) {}
    Mac mac;
    Outcome outcome;
    std::string before;  // firmware when the rollout found it
    std::string after;   // firmware it came back with
    std::string note;    // why it failed or was skipped
    int exitCode = kExitOk;
    std::optional<Found> found;  // as discovery found it in this run
    std::string server;          // the address it fetches the image from
};

// What a rollout is, kept in the state file between a halt and its resume.
struct Plan {
    std::string image;   // its absolute path
    std::string sha256;  // of the image, so that a resume flashes the same one
    std::string version;
    std::shared_ptr<const std::string> data;  // the image, read once
    // "http" or "tftp": a server the administrator runs at `server`;
    // "serve": tarn's own HTTP server, on the address facing each device.
    std::string scheme;
    std::string server;
    long canary = 1;
    long wave = 5;
    long maxFailures = 1;
    double waitTimeout = 600;
    bool all = false;             // the devices are those discovery finds
    std::vector<Device> devices;  // in the order they are upgraded
};

// ---- The image ---------------------------------------------------------------

std::string imageName(const Plan &p) {
    return std::filesystem::path(p.image).filename().string();
}

// The image, checked as the device will check it: a damaged one is refused
// here, before any device is touched. Keeps it and its SHA-256 in the
// plan and returns the version it carries.
std::string readImage(Plan &p) {
    p.data = readServedFile(p.image);
    const std::span bytes(reinterpret_cast<const uint8_t *>(p.data->data()), p.data->size());
    std::string version;
    const fwimage::ImageError error = fwimage::check(bytes, version);
    if (error != fwimage::ImageError::None)
        throw UsageError(p.image + " is not a firmware image a device takes: " +
                         std::string(fwimage::describe(error)) + ".");
    const std::optional<devfmt::Digest> digest = devfmt::sha256(bytes);
    if (!digest)
        throw RefusedError("cannot compute the SHA-256 of " + p.image + ": out of memory.");
    p.sha256 = devfmt::toHex(*digest);
    return version;
}

// Refuses a server or an image name that no device could fetch from.
void checkSource(const Plan &p) {
    const bool tftp = p.scheme == "tftp";
    checkDeviceFileName(imageName(p), tftp ? kFileNameLimit : kHttpFirmwareNameLimit);
    if (p.scheme == "serve")
        return;
    // The device builds "http://ADDRESS/FILE" without brackets.
    if (!tftp && serverAddress(p.server).ipv6)
        throw UsageError("the device cannot download by HTTP from an IPv6 address; use --tftp " +
                         p.server + " or an IPv4 HTTP server.");
}

// A device needs some time to come back: no wait is not a wait.
double parseWaitTimeout(const std::string &text, std::string_view what) {
    const double seconds = parseSeconds(text, what);
    if (seconds <= 0)
        throw UsageError(std::string(what) + " takes more than 0 seconds, not \"" + text + "\".");
    return seconds;
}

// ---- The state file ----------------------------------------------------------

// The command that continues the rollout kept in `statePath`.
std::string resumeCommand(const std::string &statePath) {
    return statePath == kStateFile ? "tarn rollout --resume"
                                   : "tarn rollout --resume --state " + statePath;
}

// Replaced as a whole, on disk before the rename, after every wave, so that
// a crash, a power cut or Ctrl-C leaves the last complete state behind. The
// count of devices lets a load tell a complete file from a cut one.
void saveState(const std::string &path, const Plan &p) {
    std::ostringstream out;
    out << kStateHeader << "\nimage " << p.image << "\nsha256 " << p.sha256 << "\nversion "
        << p.version << "\nserver " << p.scheme << " " << p.server << "\ncanary " << p.canary
        << "\nwave " << p.wave << "\nmax-failures " << p.maxFailures << "\nwait-timeout "
        << p.waitTimeout << "\ndevices " << p.devices.size() << "\n";
    for (const Device &d : p.devices)
        out << "device " << formatMac(d.mac) << " " << wordOf(d.outcome) << "\n";
    const int why = replaceFile(path, out.str(), 0666).error;
    if (why == 0)
        return;
    throw RefusedError("cannot write the rollout's state to " + path + ": " + std::strerror(why) +
                       ".");
}

Plan loadState(const std::string &path) {
    std::ifstream in(path);
    if (!in)
        throw UsageError("no rollout to resume: " + path +
                         " does not exist here; start one with tarn rollout IMAGE.");
    const auto bad = [&](const std::string &why) {
        return UsageError(path + " is not a complete rollout state file (" + why +
                          "); remove it to start a new rollout, or give another with --state "
                          "FILE.");
    };
    const auto badLine = [&](const std::string &line) { return bad("at \"" + line + "\""); };
    const auto number = [&](const std::string &value, std::string_view key, long min, long max) {
        try {
            return parseInteger(value, key, min, max);
        } catch (const UsageError &e) {
            throw bad(e.what());
        }
    };
    Plan p;
    std::optional<long> count;
    std::string line;
    if (!std::getline(in, line) || line != kStateHeader)
        throw badLine(line);
    while (std::getline(in, line)) {
        const size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
        if (key == "image") {
            p.image = value;
        } else if (key == "sha256") {
            p.sha256 = value;
        } else if (key == "version") {
            p.version = value;
        } else if (key == "server") {
            p.scheme = value.substr(0, value.find(' '));
            p.server = value.substr(std::min(value.size(), p.scheme.size() + 1));
            if (p.scheme != "http" && p.scheme != "tftp" && p.scheme != "serve")
                throw badLine(line);
        } else if (key == "canary") {
            p.canary = number(value, "canary", 0, kWaveLimit);
        } else if (key == "wave") {
            p.wave = number(value, "wave", 1, kWaveLimit);
        } else if (key == "max-failures") {
            p.maxFailures = number(value, "max-failures", 1, 4096);
        } else if (key == "wait-timeout") {
            try {
                p.waitTimeout = parseWaitTimeout(value, "wait-timeout");
            } catch (const UsageError &e) {
                throw bad(e.what());
            }
        } else if (key == "devices" && !count) {
            count = number(value, "devices", 1, std::numeric_limits<int>::max());
        } else if (key == "device" && count) {
            const std::optional<Mac> mac = parseMac(value.substr(0, value.find(' ')));
            const std::optional<Outcome> o =
                outcomeOf(value.substr(std::min(value.size(), value.find(' ') + 1)));
            if (!mac || !o)
                throw badLine(line);
            if (std::any_of(p.devices.begin(), p.devices.end(),
                            [&](const Device &d) { return d.mac == *mac; }))
                throw bad(formatMac(*mac) + " is listed twice");
            p.devices.push_back(Device(*mac, *o));
        } else {
            throw badLine(line);
        }
    }
    if (p.image.empty() || p.sha256.empty() || p.version.empty() || p.scheme.empty() || !count)
        throw bad("it lacks the image, its version or the count of devices");
    if (p.devices.size() != static_cast<size_t>(*count))
        throw bad("it lists " + std::to_string(p.devices.size()) + " of its " +
                  std::to_string(*count) + " devices: it was cut off");
    checkSource(p);
    return p;
}

// ---- Showing the progress ----------------------------------------------------

// What the stages look like on the bar, in the order they come.
constexpr std::pair<std::string_view, int> kStageShare[] = {
    {"starting", 5},
    {"Downloading file", 20},
    {"Validating file", 35},
    {"Upgrading firmware", 50},
    {"flashed, restarting", 65},
    {"shutting down", 75},
    {"the device is restarting", 85},
};

// One line per device of the wave. On a terminal the lines are redrawn in
// place; elsewhere a line is printed when a device's stage changes; with
// --json, one object per change.
void report(bool json, const Device &d);

class Board {
public:
    Board(bool json, const std::vector<Device *> &wave) : json_(json), tty_(isatty(STDERR_FILENO)) {
        for (const Device *d : wave)
            lines_.push_back(Line{formatMac(d->mac), "waiting", 0});
    }

    void show(size_t index, const std::string &stage, long seconds) {
        const std::lock_guard lock(mutex_);
        Line &l = lines_[index];
        const bool changed = l.stage != stage;
        l.stage = stage;
        l.seconds = seconds;
        if (json_) {
            if (changed)
                std::printf("%s\n", toJson(Record{text("event", "progress"), text("mac", l.mac),
                                                  text("stage", stage), number("seconds", seconds)})
                                        .c_str());
            std::fflush(stdout);
        } else if (tty_) {
            redraw();
        } else if (changed) {
            std::fprintf(stderr, "%s\n", terminalText(lineText(l)).c_str());
        }
    }

    // What became of a device, printed as soon as it is known; on a
    // terminal the lines are drawn again below the sentence.
    void finished(const Device &d) {
        const std::lock_guard lock(mutex_);
        report(json_, d);
        if (d.outcome == Outcome::Failed)
            drawn_ = false;
    }

private:
    struct Line {
        std::string mac;
        std::string stage;
        long seconds;
    };

    static std::string lineText(const Line &l) {
        int share = 0;
        for (const auto &[stage, at] : kStageShare)
            if (stage == l.stage)
                share = at;
        if (l.stage == "done")
            share = 100;
        constexpr int kWidth = 20;
        const int filled = share * kWidth / 100;
        return l.mac + " [" + std::string(static_cast<size_t>(filled), '#') +
               std::string(static_cast<size_t>(kWidth - filled), '.') + "] " + l.stage + " (" +
               std::to_string(l.seconds) + " s)";
    }

    void redraw() {
        if (drawn_)
            std::fprintf(stderr, "\033[%zuA", lines_.size());
        for (const Line &l : lines_)
            std::fprintf(stderr, "\r%s\033[K\n", terminalText(lineText(l)).c_str());
        drawn_ = true;
        std::fflush(stderr);
    }

    std::mutex mutex_;
    bool json_;
    bool tty_;
    bool drawn_ = false;
    std::vector<Line> lines_;
};

// ---- Upgrading one device ----------------------------------------------------

void fail(Device &d, int exitCode, const std::string &why) {
    d.outcome = Outcome::Failed;
    d.exitCode = exitCode;
    d.note = why;
}

// Runs in a thread of its own, with a session of its own.
void upgradeOne(const Options &options,
                const Credentials &credentials,
                const Plan &plan,
                Device &d,
                Board &board,
                size_t line) {
    const std::string mac = formatMac(d.mac);
    try {
        Session s(options, *d.found, credentials);
        // Listen before starting, so the announcement after the restart is not missed.
        Transport announcements(s.interfaces(), wire::kRequestPort);
        board.show(line, "starting", 0);
        sendStart(s, wire::OP_FIRMWARE_UPGRADE,
                  plan.scheme == "tftp" ? wire::transfer::kServerTftp : wire::transfer::kServerHttp,
                  serverAddress(d.server), imageName(plan), "the firmware upgrade");
        const UpgradeResult r =
            followUpgrade(s, announcements, deadlineIn(plan.waitTimeout),
                          [&](const std::string &stage, long t) { board.show(line, stage, t); });
        switch (r.end) {
        case UpgradeEnd::Refused:
            return fail(d, kExitRefused, refusedImageText(mac));
        case UpgradeEnd::Lost:
            return fail(d, kExitNoReply,
                        mac + " did not come back with the new firmware within " +
                            Session::secondsText(plan.waitTimeout) + ".");
        case UpgradeEnd::SameFirmware:
        case UpgradeEnd::NewFirmware:
            d.after = r.firmware;
            break;
        }
        if (r.firmware != plan.version)
            return fail(d, kExitRefused,
                        mac + " came back with firmware " + r.firmware + ", not " + plan.version +
                            ": the upgrade did not take.");
        d.outcome = Outcome::Upgraded;
        d.note = "in " + Session::secondsText(r.seconds, 1);
        board.show(line, "done", static_cast<long>(r.seconds));
    } catch (const Error &e) {
        fail(d, e.code(), e.what());
    } catch (const std::exception &e) {
        fail(d, kExitRefused, mac + ": " + e.what());
    }
}

Record deviceRecord(const Device &d) {
    return Record{text("mac", formatMac(d.mac)),
                  text("name", d.found ? d.found->info.name : ""),
                  text("outcome", std::string(wordOf(d.outcome))),
                  text("before", d.before),
                  text("after", d.after),
                  text("note", d.note)};
}

// Prints what became of a device; the board calls it under its lock.
void report(bool json, const Device &d) {
    if (json) {
        Record r = deviceRecord(d);
        r.insert(r.begin(), text("event", "device"));
        std::printf("%s\n", toJson(r).c_str());
        std::fflush(stdout);
    }
    // The sentence for a person, whatever the output.
    if (d.outcome == Outcome::Failed)
        std::fprintf(stderr, "tarn: %s\n", terminalText(d.note).c_str());
}

// Upgrades one wave in parallel and waits for all of it: a device that
// is flashing is never abandoned, even when another of the wave failed.
void runWave(Session &s, const Plan &plan, const std::vector<Device *> &wave) {
    Board board(s.options().json, wave);
    const Credentials credentials = s.credentials();
    forEachBounded(wave.size(), wave.size(), [&](size_t i) {
        upgradeOne(s.options(), credentials, plan, *wave[i], board, i);
        board.finished(*wave[i]);
    });
}

// ---- The rollout -------------------------------------------------------------

bool toUpgrade(const Device &d) {
    return d.outcome == Outcome::Pending || d.outcome == Outcome::Failed;
}

// Discovery, repeated (-r) while a device still to upgrade is missing, so
// that one lost reply does not stop a rollout. Two hosts that answer as one
// MAC do stop it.
std::map<Mac, Found> discoverDevices(Session &s, const std::vector<Device> &wanted) {
    std::map<Mac, Found> byMac;
    for (int attempt = 0; attempt <= s.options().retries; attempt++) {
        std::map<Mac, Found> seen;
        for (const Found &f : s.discover())
            if (!seen.emplace(f.info.mac, f).second)
                throw RefusedError(conflictText(f.info.mac));
        for (auto &[mac, f] : seen)
            byMac.insert_or_assign(mac, std::move(f));
        if (std::all_of(wanted.begin(), wanted.end(),
                        [&](const Device &d) { return !toUpgrade(d) || byMac.count(d.mac); }))
            break;
    }
    return byMac;
}

// Notes the firmware of every device still to upgrade; those already on the
// version are skipped. A named device that does not answer stops the
// rollout before anything is started.
void findDevices(Plan &p, const std::map<Mac, Found> &found) {
    for (Device &d : p.devices) {
        if (!toUpgrade(d))
            continue;
        const auto it = found.find(d.mac);
        if (it == found.end())
            throw NoReplyError(formatMac(d.mac) +
                               " did not answer discovery; nothing was started. Check it, or "
                               "leave it out of --to.");
        d.found = it->second;
        d.before = d.found->info.firmware;
        d.after.clear();
        d.note.clear();
        d.exitCode = kExitOk;
        if (d.before == p.version) {
            d.outcome = Outcome::Skipped;
            d.note = "already on " + p.version;
        } else {
            d.outcome = Outcome::Pending;
        }
    }
}

// The MACs of a --to value: one MAC or a comma-separated list; nothing
// when it is not one.
std::optional<std::vector<Mac>> macList(const std::string &value) {
    std::vector<Mac> macs;
    std::stringstream items(value);
    for (std::string item; std::getline(items, item, ',');) {
        const std::optional<Mac> mac = parseMac(item);
        if (!mac)
            return std::nullopt;
        macs.push_back(*mac);
    }
    return macs;
}

// The devices named by --to, in that order: MACs, or the devices of a
// fleet manifest in the file's order.
std::vector<Device> namedDevices(const std::vector<std::string> &to) {
    std::vector<Device> out;
    for (const std::string &value : to) {
        std::optional<std::vector<Mac>> macs = macList(value);
        if (!macs && access(value.c_str(), F_OK) != 0)
            throw UsageError(
                "--to takes MAC addresses (00:11:22:33:44:55) or a fleet manifest, "
                "not \"" +
                value + "\".");
        if (!macs) {
            macs.emplace();
            for (const ManifestDevice &d : readManifest(value).devices)
                macs->push_back(d.mac);
        }
        for (const Mac &mac : *macs)
            if (std::none_of(out.begin(), out.end(), [&](const Device &d) { return d.mac == mac; }))
                out.push_back(Device(mac));
    }
    if (out.empty())
        throw UsageError("--to names no device.");
    return out;
}

// The next devices to upgrade: the canary while no device has been
// upgraded yet, else a wave.
std::vector<Device *> nextWave(Plan &p) {
    const bool canaryDone = std::any_of(p.devices.begin(), p.devices.end(), [](const Device &d) {
        return d.outcome == Outcome::Upgraded;
    });
    const size_t size = static_cast<size_t>(canaryDone || p.canary == 0 ? p.wave : p.canary);
    std::vector<Device *> wave;
    for (Device &d : p.devices)
        if (d.outcome == Outcome::Pending && wave.size() < size)
            wave.push_back(&d);
    return wave;
}

size_t countOf(const Plan &p, Outcome o) {
    return static_cast<size_t>(std::count_if(p.devices.begin(), p.devices.end(),
                                             [o](const Device &d) { return d.outcome == o; }));
}

int finish(Session &s, const Plan &p, const std::string &statePath) {
    const size_t failed = countOf(p, Outcome::Failed);
    const size_t pending = countOf(p, Outcome::Pending);
    const bool halted = failed >= static_cast<size_t>(p.maxFailures) && pending > 0;
    if (s.options().json) {
        std::printf(
            "%s\n",
            toJson(Record{text("event", "summary"), text("version", p.version),
                          boolean("halted", halted),
                          number("upgraded", static_cast<int64_t>(countOf(p, Outcome::Upgraded))),
                          number("skipped", static_cast<int64_t>(countOf(p, Outcome::Skipped))),
                          number("failed", static_cast<int64_t>(failed)),
                          number("untouched", static_cast<int64_t>(pending)),
                          text("state_file", statePath)})
                .c_str());
    } else {
        std::vector<Record> rows;
        for (const Device &d : p.devices)
            rows.push_back(deviceRecord(d));
        std::printf("%s", toTable(rows, {{"mac", "MAC"},
                                         {"name", "NAME"},
                                         {"outcome", "OUTCOME"},
                                         {"before", "BEFORE"},
                                         {"after", "AFTER"},
                                         {"note", "NOTE"}})
                              .c_str());
    }
    std::fflush(stdout);
    const auto firstFailure = std::find_if(p.devices.begin(), p.devices.end(), [](const Device &d) {
        return d.outcome == Outcome::Failed;
    });
    if (firstFailure == p.devices.end())
        return kExitOk;
    const std::string counts =
        std::to_string(failed) + " of " + std::to_string(p.devices.size()) + " devices failed";
    if (halted)
        throw Error(static_cast<ExitCode>(firstFailure->exitCode),
                    "the rollout of " + p.version + " halted: " + counts + ", " +
                        std::to_string(pending) +
                        " left untouched. Fix the cause and continue with " +
                        resumeCommand(statePath) + ".");
    throw Error(static_cast<ExitCode>(firstFailure->exitCode),
                "the rollout of " + p.version + " ended, but " + counts + "; " +
                    resumeCommand(statePath) + " tries them again.");
}

// Notes where each device fetches the image, and starts tarn's own HTTP
// server on each address that faces devices to upgrade when it serves the
// image itself. The servers run until the rollout ends.
std::vector<std::unique_ptr<HttpServer>> serveImage(Plan &p) {
    std::vector<std::unique_ptr<HttpServer>> servers;
    std::set<std::string> serving;
    for (Device &d : p.devices) {
        if (d.outcome != Outcome::Pending)
            continue;
        if (p.scheme != "serve") {
            d.server = p.server;
            continue;
        }
        d.server = serveAddress(*d.found);
        if (!serving.insert(d.server).second)
            continue;
        ServeConfig c;
        c.address = d.server;
        c.port = kHttpPort;
        c.files = {{imageName(p), p.data}};
        servers.push_back(std::make_unique<HttpServer>(std::move(c)));
    }
    return servers;
}

// A halted rollout is continued or removed on purpose, never overwritten
// by the next one.
void refuseToReplace(const std::string &statePath) {
    if (access(statePath.c_str(), F_OK) != 0)
        return;
    const Plan old = loadState(statePath);
    if (std::any_of(old.devices.begin(), old.devices.end(), toUpgrade))
        throw UsageError(statePath + " holds a rollout of " + old.version +
                         " that has not finished; continue it with " + resumeCommand(statePath) +
                         ", or remove the file to start another.");
}

int run(Session &s, Plan &p, const std::string &statePath) {
    const std::map<Mac, Found> found = discoverDevices(s, p.devices);
    if (p.all) {
        p.all = false;  // from now on, the devices found are the rollout's
        for (const auto &[mac, f] : found)
            p.devices.push_back(Device(mac));
        if (p.devices.empty())
            throw NoReplyError("no device answered discovery within " + s.timeoutText() + ".");
    }
    findDevices(p, found);
    const std::vector<std::unique_ptr<HttpServer>> servers = serveImage(p);
    s.credentials();  // asked once, before the threads start
    saveState(statePath, p);
    while (countOf(p, Outcome::Failed) < static_cast<size_t>(p.maxFailures)) {
        const std::vector<Device *> wave = nextWave(p);
        if (wave.empty())
            break;
        runWave(s, p, wave);
        saveState(statePath, p);
    }
    return finish(s, p, statePath);
}

}  // namespace

int cmdRollout(Session &s, Args &a) {
    const bool resume = a.flag("--resume");
    const std::optional<std::string> canary = a.value("--canary");
    const std::optional<std::string> wave = a.value("--wave");
    const std::optional<std::string> maxFailures = a.value("--max-failures");
    const std::optional<std::string> version = a.value("--version");
    const std::optional<std::string> http = a.value("--http");
    const std::optional<std::string> tftp = a.value("--tftp");
    const std::optional<std::string> waitTimeout = a.value("--wait-timeout");
    const std::string statePath = a.value("--state").value_or(kStateFile);
    const std::vector<std::string> to = a.values("--to");
    const bool all = a.flag("--all");
    const std::optional<std::string> image = a.positional();

    Plan p;
    if (resume) {
        if (image || version || http || tftp || canary || !to.empty() || all)
            throw UsageError("--resume takes the image, version, server, canary and devices from " +
                             statePath + "; give only --wave, --max-failures or --wait-timeout.");
        a.finish();
        p = loadState(statePath);
        const std::string halted = p.sha256;
        readImage(p);
        if (p.sha256 != halted)
            throw UsageError(p.image + " is not the image the rollout of " + p.version +
                             " started with (its SHA-256 differs from the one in " + statePath +
                             "); put that image back, or remove " + statePath +
                             " to start a new rollout.");
        // Failed devices are tried again, first: the cause has been fixed.
        for (Device &d : p.devices)
            if (d.outcome == Outcome::Failed)
                d.outcome = Outcome::Pending;
        std::stable_partition(p.devices.begin(), p.devices.end(),
                              [](const Device &d) { return d.outcome != Outcome::Pending; });
    } else {
        if (!image)
            throw UsageError("give the firmware image: tarn rollout IMAGE --to MAC ... | --all.");
        if (to.empty() == !all)
            throw UsageError(
                "name the devices with --to MAC (repeat it, or separate with commas) or "
                "--to MANIFEST, or take every device of the segment with --all.");
        if (http && tftp)
            throw UsageError(
                "give one server: --http SERVER or --tftp SERVER, or neither, and "
                "tarn serves the image itself.");
        a.finish();
        refuseToReplace(statePath);
        p.image = std::filesystem::absolute(*image).string();
        p.scheme = http ? "http" : tftp ? "tftp" : "serve";
        p.server = http ? *http : tftp ? *tftp : "";
        checkSource(p);
        // Checked whatever --version says: a damaged image never leaves.
        p.version = readImage(p);
        if (version)
            p.version = *version;
        p.all = all;
        if (!all)
            p.devices = namedDevices(to);
        if (canary)
            p.canary = parseInteger(*canary, "--canary", 0, kWaveLimit);
    }
    if (wave)
        p.wave = parseInteger(*wave, "--wave", 1, kWaveLimit);
    if (maxFailures)
        p.maxFailures = parseInteger(*maxFailures, "--max-failures", 1, 4096);
    if (waitTimeout)
        p.waitTimeout = parseWaitTimeout(*waitTimeout, "--wait-timeout");
    return run(s, p, statePath);
}

}  // namespace tarn
