#include "metrics.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "output.h"

namespace tarn {

namespace {

class Exposition {
public:
    // Starts a metric family.
    void family(std::string_view name, std::string_view type, std::string_view help) {
        out_ += "# HELP ";
        out_ += name;
        out_ += ' ';
        out_ += help;
        out_ += "\n# TYPE ";
        out_ += name;
        out_ += ' ';
        out_ += type;
        out_ += '\n';
    }
    // One sample; `labels` is the text between the braces, or empty.
    void sample(std::string_view name, const std::string &labels, const std::string &value) {
        out_ += name;
        if (!labels.empty())
            out_ += "{" + labels + "}";
        out_ += ' ' + value + '\n';
    }
    // A family of one sample without labels.
    void single(std::string_view name,
                std::string_view type,
                std::string_view help,
                const std::string &value) {
        family(name, type, help);
        sample(name, "", value);
    }
    std::string take() { return std::move(out_); }

private:
    std::string out_;
};

std::string readProcFile(const char *path) {
    std::string out;
    if (FILE *f = std::fopen(path, "re")) {
        char buf[4096];
        size_t n = 0;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            out.append(buf, n);
        std::fclose(f);
    }
    return out;
}

std::string number(double value) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15g", value);
    return buf;
}

std::string label(std::string_view key, std::string_view value) {
    return std::string(key) + "=\"" + labelValue(value) + "\"";
}

}  // namespace

std::string labelValue(std::string_view s) {
    std::string out;
    for (char c : validUtf8(s)) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

ProcessStats readProcessStats() {
    ProcessStats p;
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    const std::string stat = readProcFile("/proc/self/stat");
    // The fields after the command name, which is in parentheses and may
    // hold spaces: state is field 3, starttime 22.
    const size_t close = stat.rfind(')');
    std::vector<std::string_view> fields;
    std::string_view rest =
        close == std::string::npos ? "" : std::string_view(stat).substr(close + 1);
    for (size_t start = 0; (start = rest.find_first_not_of(' ')) != std::string_view::npos;) {
        rest.remove_prefix(start);
        const size_t end = std::min(rest.find(' '), rest.size());
        fields.push_back(rest.substr(0, end));
        rest.remove_prefix(end);
    }
    const auto field = [&](size_t n) {
        unsigned long long v = 0;
        if (n - 3 < fields.size())
            std::from_chars(fields[n - 3].data(), fields[n - 3].data() + fields[n - 3].size(), v);
        return static_cast<double>(v);
    };
    // CPU time from the kernel's accounting rather than utime and stime
    // above: an emulator (QEMU's user mode) writes zeros there.
    if (rusage use{}; getrusage(RUSAGE_SELF, &use) == 0)
        p.cpuSeconds = static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
                       static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
    const std::string procStat = readProcFile("/proc/stat");
    if (const size_t btime = procStat.find("\nbtime "); btime != std::string::npos)
        p.startTime = std::strtod(procStat.c_str() + btime + 7, nullptr) + field(22) / tick;
    const std::string status = readProcFile("/proc/self/status");
    const size_t rss = status.find("\nVmRSS:");
    if (rss != std::string::npos)
        p.residentBytes = std::strtoull(status.c_str() + rss + 7, nullptr, 10) * 1024;
    if (DIR *d = opendir("/proc/self/fd")) {
        while (const dirent *e = readdir(d))
            p.openFds += e->d_name[0] != '.';
        closedir(d);
        p.openFds--;  // the directory being read
    }
    return p;
}

std::string renderMetrics(const Inventory &inventory,
                          const ExporterStats &stats,
                          const ProcessStats &process) {
    Exposition x;
    const auto &devices = inventory.devices();
    x.family("tarn_device_up", "gauge",
             "1 while the device is heard, 0 once it was silent for the lost threshold.");
    for (const auto &[mac, d] : devices)
        x.sample("tarn_device_up",
                 label("mac", formatMac(mac)) + "," + label("name", d.last.name) + "," +
                     label("ip", formatIpv4(d.last.ipv4)),
                 d.up ? "1" : "0");
    x.family("tarn_device_last_seen_timestamp_seconds", "gauge",
             "When the device's last announcement or discovery reply arrived, in Unix seconds.");
    for (const auto &[mac, d] : devices)
        x.sample("tarn_device_last_seen_timestamp_seconds", label("mac", formatMac(mac)),
                 number(unixSeconds(d.heard.wall)));
    x.family("tarn_device_info", "gauge", "The device's identity; the value is always 1.");
    for (const auto &[mac, d] : devices)
        x.sample("tarn_device_info",
                 label("mac", formatMac(mac)) + "," + label("name", d.last.name) + "," +
                     label("model", d.model) + "," + label("firmware", d.last.firmware) + "," +
                     label("ipv4", formatIpv4(d.last.ipv4)) + "," +
                     label("ipv6", d.last.ipv6Text()),
                 "1");
    x.family("tarn_device_discovery_rtt_seconds", "gauge",
             "Round-trip time of the device's last discovery reply.");
    for (const auto &[mac, d] : devices) {
        if (d.rttSeconds)
            x.sample("tarn_device_discovery_rtt_seconds", label("mac", formatMac(mac)),
                     number(*d.rttSeconds));
    }
    x.single("tarn_exporter_announcements_total", "counter", "Announcements received.",
             std::to_string(stats.announcements));
    x.single("tarn_exporter_ignored_datagrams_total", "counter",
             "Datagrams on the announcement port that were not announcements.",
             std::to_string(stats.ignoredDatagrams));
    x.single("tarn_exporter_receive_errors_total", "counter", "Failures to wait for announcements.",
             std::to_string(stats.receiveErrors));
    x.single("tarn_exporter_discoveries_total", "counter", "Discoveries broadcast.",
             std::to_string(stats.discoveries));
    x.single("tarn_exporter_discovery_failures_total", "counter",
             "Discoveries that could not be broadcast.", std::to_string(stats.discoveryFailures));
    x.single("tarn_exporter_last_discovery_timestamp_seconds", "gauge",
             "When the last discovery finished, in Unix seconds; 0 before the first.",
             number(stats.lastDiscovery ? unixSeconds(*stats.lastDiscovery) : 0.0));
    x.family("tarn_exporter_devices", "gauge", "Devices known to the exporter, by state.");
    size_t up = 0;
    for (const auto &[mac, d] : devices)
        up += d.up;
    x.sample("tarn_exporter_devices", "state=\"up\"", std::to_string(up));
    x.sample("tarn_exporter_devices", "state=\"down\"", std::to_string(devices.size() - up));
    x.single("tarn_exporter_devices_dropped_total", "counter",
             "Sightings of new devices ignored because the exporter knew --max-devices already.",
             std::to_string(inventory.dropped()));
    x.single("tarn_exporter_lost_after_seconds", "gauge",
             "Silence after which a device counts as down.", number(stats.lostAfterSeconds));
    x.single("tarn_exporter_discovery_interval_seconds", "gauge",
             "Time between discoveries; 0 when only the first one runs.",
             number(stats.discoveryIntervalSeconds));
    x.single("process_cpu_seconds_total", "counter", "User and system CPU time spent in seconds.",
             number(process.cpuSeconds));
    x.single("process_resident_memory_bytes", "gauge", "Resident memory size in bytes.",
             std::to_string(process.residentBytes));
    x.single("process_open_fds", "gauge", "Number of open file descriptors.",
             std::to_string(process.openFds));
    x.single("process_start_time_seconds", "gauge",
             "Start time of the process since the Unix epoch in seconds.",
             number(process.startTime));
    return x.take();
}

}  // namespace tarn
