#include "check.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "atomic_file.h"
#include "errors.h"
#include "inventory.h"
#include "output.h"

namespace tarn {

namespace {

constexpr const char *kDefaultStateDir = "/var/lib/tarn/check";

// The state folder: --state-dir, else the one systemd made for the unit
// (StateDirectory=, the first when it names several), else the default.
std::string stateDirOption(Args &a) {
    if (std::optional<std::string> dir = a.value("--state-dir"))
        return *dir;
    const char *systemd = std::getenv("STATE_DIRECTORY");
    if (systemd != nullptr && *systemd != '\0') {
        const std::string_view dirs(systemd);
        return std::string(dirs.substr(0, dirs.find(':')));
    }
    return kDefaultStateDir;
}

// Device texts in the status line: valid UTF-8, on one line, and without
// the "|" that starts the performance data.
std::string plain(std::string_view s) {
    std::string out = validUtf8(s);
    for (char &c : out) {
        if (c == '|')
            c = '/';
        else if (c == '\n' || c == '\r')
            c = ' ';
    }
    return out;
}

std::string ageData(double age, double maxAge) {
    return "age=" + fixedDecimals(age, 0) + "s;;" + fixedDecimals(maxAge, 0) + ";0";
}

// The state file of a device, named by the canonical form of -d, so the
// name holds nothing but hex digits, hyphens or dots.
std::string stateFile(const std::string &dir, const std::string &device) {
    const Selector sel = parseSelector(device);
    std::string key = sel.mac ? formatMac(*sel.mac) : formatIpv4(*sel.ip);
    for (char &c : key)
        c = c == ':' ? '-' : c;
    return dir + "/" + key;
}

std::optional<double> loadLastAnswer(const std::string &path) {
    std::ifstream in(path);
    double when = 0;
    if (!(in >> when))
        return std::nullopt;
    return when;
}

// Creates the folder and its missing parents: the parents readable by all
// (as /var/lib is), the folder itself for its owner only.
bool makeFolders(const std::string &dir) {
    for (size_t slash = dir.find('/', 1); slash != std::string::npos;
         slash = dir.find('/', slash + 1)) {
        if (mkdir(dir.substr(0, slash).c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

// Records when the device answered; returns why it could not, or "".
std::string saveLastAnswer(const std::string &dir, const std::string &path, double when) {
    if (!makeFolders(dir)) {
        const int error = errno;
        return "cannot create the state folder " + dir + ": " + std::strerror(error);
    }
    const int why = replaceFile(path, fixedDecimals(when, 3) + "\n", 0666).error;
    if (why != 0)
        return "cannot write " + path + ": " + std::strerror(why);
    return "";
}

}  // namespace

CheckResult evaluateCheck(const CheckInput &in) {
    if (!in.found) {
        const bool recent = in.lastAnswerAge && *in.lastAnswerAge <= in.maxAge;
        std::string line =
            std::string(recent ? "TARN WARNING - " : "TARN CRITICAL - ") + in.silence;
        if (in.lastAnswerAge)
            line += " Last answered " + fixedDecimals(*in.lastAnswerAge, 0) + " s ago. | " +
                    ageData(*in.lastAnswerAge, in.maxAge);
        else
            line += " It has not answered a check before.";
        return {recent ? kPluginWarning : kPluginCritical, line};
    }
    const DeviceInfo &d = in.found->info;
    const std::string who = plain(d.name) + " (" + formatMac(d.mac) + ", " + formatIpv4(d.ip) + ")";
    const std::string perf =
        (in.unsaved.empty() ? "" : " (answer not recorded: " + plain(in.unsaved) + ")") +
        " | rtt=" + fixedDecimals(in.found->rttMs / 1000, 6) + "s;;;0 " + ageData(0, in.maxAge);
    if (in.firmware && d.firmware != *in.firmware)
        return {kPluginWarning, "TARN WARNING - " + who + " runs firmware " + plain(d.firmware) +
                                    ", not " + plain(*in.firmware) + perf};
    return {kPluginOk, "TARN OK - " + who + " answered in " + fixedDecimals(in.found->rttMs, 1) +
                           " ms, firmware " + plain(d.firmware) + perf};
}

int cmdCheck(Session &s, Args &a) {
    try {
        CheckInput in;
        if (std::optional<std::string> v = a.value("--max-age"))
            in.maxAge = parseSeconds(*v, "--max-age");
        in.firmware = a.value("--firmware");
        const std::string dir = stateDirOption(a);
        a.finish();
        const std::string &device = s.options().device;
        if (device.empty())
            throw UsageError("check needs a device: name it with -d MAC or -d IPv4.");
        const std::string path = stateFile(dir, device);
        try {
            in.found = s.target();
        } catch (const NoReplyError &e) {
            in.silence = e.what();
        }
        const double now = unixSeconds(WallClock::now());
        if (in.found)
            in.unsaved = saveLastAnswer(dir, path, now);
        else if (std::optional<double> last = loadLastAnswer(path))
            in.lastAnswerAge = std::max(0.0, now - *last);
        const CheckResult r = evaluateCheck(in);
        std::printf("%s\n", r.line.c_str());
        return r.status;
    } catch (const std::exception &e) {
        return printCheckUnknown(e.what());
    }
}

int printCheckUnknown(std::string_view reason) {
    std::printf("TARN UNKNOWN - %s\n", plain(reason).c_str());
    return kPluginUnknown;
}

}  // namespace tarn
