// discover, info, neighbor and ops.
#include <algorithm>
#include <cstdio>

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

}  // namespace

int cmdDiscover(Session &s, Args &a) {
    a.finish();
    if (!s.options().device.empty())
        std::fprintf(stderr, "tarn: discover lists every device; it ignores -d %s.\n",
                     s.options().device.c_str());
    size_t dropped = 0;
    const std::vector<Found> found = s.discover(&dropped);
    std::vector<Record> records;
    records.reserve(found.size());
    for (const Found &f : found)
        records.push_back(deviceRecord(f));
    // The list is sorted by MAC: hosts that answer as one MAC stand together.
    for (size_t i = 0; i < found.size();) {
        size_t n = 1;
        while (i + n < found.size() && found[i + n].info.mac == found[i].info.mac)
            n++;
        if (n > 1)
            std::fprintf(stderr, "tarn: %s devices answer as %s\n",
                         n == 2 ? "two" : std::to_string(n).c_str(),
                         formatMac(found[i].info.mac).c_str());
        i += n;
    }
    if (dropped > 0)
        std::fprintf(
            stderr,
            "tarn: more than %zu devices answered; %zu replies of further devices are left out\n",
            kMaxDevices, dropped);
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
    std::vector<Reply> replies;
    if (!s.options().device.empty()) {
        replies.push_back(s.call(wire::OP_QUERY_NEIGHBOR, {}));
    } else {
        const DeviceReplies answers = s.collect(wire::OP_QUERY_NEIGHBOR);
        for (const auto &[mac, hosts] : answers.devices())
            replies.insert(replies.end(), hosts.begin(), hosts.end());
    }
    std::vector<std::pair<Neighbor, std::string>> found;
    found.reserve(replies.size());
    for (const Reply &r : replies)
        found.emplace_back(parseNeighbor(r.body), r.ifname);
    std::stable_sort(found.begin(), found.end(),
                     [](const auto &x, const auto &y) { return x.first.mac < y.first.mac; });
    std::vector<Record> records;
    records.reserve(found.size());
    for (const auto &[neighbor, ifname] : found)
        records.push_back(neighborRecord(neighbor, ifname));
    const std::vector<Column> columns{{"mac", "MAC"},   {"ipv4", "IPv4"},         {"mask", "MASK"},
                                      {"name", "NAME"}, {"firmware", "FIRMWARE"}, {"ipv6", "IPv6"},
                                      {"port", "PORT"}};
    if (records.empty() && s.options().json)
        emitList(s, records, columns);
    if (records.empty())
        throw NoReplyError("no device answered on " + Transport::listOf(s.interfaces()) +
                           " within " + s.timeoutText() + ".");
    emitList(s, records, columns);
    return kExitOk;
}

int cmdOps(Session &s, Args &a) {
    a.finish();
    const Reply r = s.call(wire::OP_QUERY_SUPPORTED, {});
    std::vector<Record> records;
    for (uint16_t code : parseOpList(r.body)) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%04X", code);
        const wire::Operation *op = wire::findOperation(code);
        records.push_back({text("code", hex),
                           op ? text("name", std::string(op->name)) : null("name"),
                           op ? text("command", std::string(commandFor(code))) : null("command")});
    }
    emitList(s, records, {{"code", "CODE"}, {"name", "OPERATION"}, {"command", "TARN COMMAND"}});
    return kExitOk;
}

}  // namespace tarn
