// discover, info, neighbor, ops, listen and watch.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>

#include "announcements.h"
#include "commands.h"
#include "device_cache.h"
#include "errors.h"
#include "ops.h"
#include "records.h"

namespace tarn {

namespace {

const std::vector<Column> kDeviceColumns{
    {"mac", "MAC"},           {"ipv4", "IPv4"}, {"name", "NAME"}, {"model", "MODEL"},
    {"firmware", "FIRMWARE"}, {"ipv6", "IPv6"}, {"dhcp", "DHCP"}, {"rtt_ms", "RTT(ms)"},
};

std::string clockTime(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[16];
    std::strftime(buf, sizeof buf, "%H:%M:%S", &tm);
    return buf;
}

std::string nowText() {
    return clockTime(std::time(nullptr));
}

Clock::time_point deadlineAfter(double seconds) {
    return seconds > 0 ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(seconds))
                       : Clock::time_point::max();
}

std::optional<double> secondsOption(Args &a, std::string_view name) {
    std::optional<std::string> v = a.value(name);
    if (!v)
        return std::nullopt;
    return parseSeconds(*v, name);
}

// One line per event, human or JSON: "event" first, then the device.
void printEvent(const Session &s, const std::string &event, Record record) {
    if (s.options().json) {
        record.insert(record.begin(), text("event", event));
        std::printf("%s\n", toJson(record).c_str());
    } else {
        std::string line = nowText() + " " + event;
        for (const char *key : {"mac", "ipv4", "name", "firmware", "interface"}) {
            for (const Field &f : record)
                if (f.key == key)
                    line += " " + f.value;
        }
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
}

}  // namespace

int cmdDiscover(Session &s, Args &a) {
    a.finish();
    std::vector<Found> found = s.discover();
    std::sort(found.begin(), found.end(),
              [](const Found &x, const Found &y) { return x.info.mac < y.info.mac; });
    std::vector<Record> records;
    records.reserve(found.size());
    for (const Found &f : found)
        records.push_back(deviceRecord(f));
    if (records.empty()) {
        if (s.options().json)
            emitList(s, records, kDeviceColumns);
        throw NoReplyError("no device answered on " + Transport::listOf(s.interfaces()) +
                           " within " + s.timeoutText() + ".");
    }
    emitList(s, records, kDeviceColumns);
    rememberDevices(found);
    return kExitOk;
}

int cmdInfo(Session &s, Args &a) {
    a.finish();
    const Found &f = s.target();
    emit(s, "", deviceRecord(f));
    return kExitOk;
}

int cmdNeighbor(Session &s, Args &a) {
    a.finish();
    std::vector<Record> records;
    if (!s.options().device.empty()) {
        const Reply r = s.call(wire::OP_QUERY_NEIGHBOR, {});
        records.push_back(neighborRecord(parseNeighbor(r.body), r.ifname));
    } else {
        for (const Reply &r : s.collect(wire::OP_QUERY_NEIGHBOR))
            records.push_back(neighborRecord(parseNeighbor(r.body), r.ifname));
    }
    if (records.empty())
        throw NoReplyError("no device answered on " + Transport::listOf(s.interfaces()) +
                           " within " + s.timeoutText() + ".");
    emitList(s, records,
             {{"mac", "MAC"}, {"ipv4", "IPv4"}, {"mask", "MASK"}, {"name", "NAME"},
              {"firmware", "FIRMWARE"}, {"ipv6", "IPv6"}, {"port", "PORT"}});
    return kExitOk;
}

int cmdOps(Session &s, Args &a) {
    a.finish();
    const Reply r = s.call(wire::OP_QUERY_SUPPORTED, {});
    std::vector<Record> records;
    for (uint16_t code : parseOpList(r.body)) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%04X", code);
        const OpInfo *op = findOp(code);
        records.push_back({text("code", hex), op ? text("name", std::string(op->name)) : null("name"),
                           op ? text("command", std::string(op->command)) : null("command")});
    }
    emitList(s, records, {{"code", "CODE"}, {"name", "OPERATION"}, {"command", "TARN COMMAND"}});
    return kExitOk;
}

int cmdListen(Session &s, Args &a) {
    const std::optional<std::string> countText = a.value("--count");
    const long count = countText ? parseInteger(*countText, "--count", 1, 1000000) : 0;
    const double timeout = secondsOption(a, "--timeout").value_or(0);
    const Clock::time_point deadline = deadlineAfter(timeout);
    a.finish();
    Transport t(s.interfaces(), wire::kRequestPort);
    long heard = 0;
    while (count == 0 || heard < count) {
        std::optional<Heard> h = nextAnnouncement(t, deadline);
        if (!h)
            break;
        printEvent(s, "announce", announcementRecord(h->announcement, h->ifname));
        heard++;
    }
    if (heard == 0)
        throw NoReplyError("no announcement arrived on " + t.interfaceList() + " within " +
                           Session::secondsText(timeout) + ".");
    return kExitOk;
}

int cmdWatch(Session &s, Args &a) {
    const Clock::time_point deadline = deadlineAfter(secondsOption(a, "--timeout").value_or(0));
    // Devices announce every 30 s: three missed announcements and a margin.
    const double lostAfter = secondsOption(a, "--lost-after").value_or(95);
    a.finish();
    const auto silence = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(lostAfter));

    struct Known {
        Record record;
        Clock::time_point last;
    };
    std::map<Mac, Known> known;
    // Bind the announcement port first so nothing is missed while the
    // discovery that fills the list runs.
    Transport t(s.interfaces(), wire::kRequestPort);
    for (const Found &f : s.discover()) {
        known[f.info.mac] = {announcementRecord(f), Clock::now()};
        printEvent(s, "new", known[f.info.mac].record);
    }
    while (Clock::now() < deadline) {
        Clock::time_point wake = deadline;
        for (const auto &[mac, k] : known)
            wake = std::min(wake, k.last + silence);
        if (std::optional<Heard> h = nextAnnouncement(t, wake)) {
            const Mac &mac = h->announcement.mac;
            const bool isNew = known.find(mac) == known.end();
            known[mac] = {announcementRecord(h->announcement, h->ifname), h->at};
            if (isNew)
                printEvent(s, "new", known[mac].record);
        }
        for (auto it = known.begin(); it != known.end();) {
            if (Clock::now() - it->second.last >= silence) {
                printEvent(s, "lost", it->second.record);
                it = known.erase(it);
            } else {
                ++it;
            }
        }
    }
    return kExitOk;
}

}  // namespace tarn
