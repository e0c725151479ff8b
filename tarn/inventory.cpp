#include "inventory.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "args.h"
#include "errors.h"

namespace tarn {

std::string Sighting::ipv6Text() const {
    return allZero(ipv6) ? std::string() : formatIpv6(ipv6) + "/" + std::to_string(ipv6Prefix);
}

Sighting Sighting::from(const Announcement &a, const std::string &ifname) {
    return {a.mac,        a.name, a.firmware,   a.ip,        a.ipv6,
            a.ipv6Prefix, ifname, std::nullopt, std::nullopt};
}

Sighting Sighting::from(const Found &f) {
    const DeviceInfo &d = f.info;
    return {d.mac,    d.name,  d.firmware,      d.ip, d.ipv6, d.ipv6Prefix,
            f.ifname, d.model, f.rttMs / 1000.0};
}

std::string_view eventName(Event::Kind kind) {
    switch (kind) {
    case Event::Kind::Appeared:
        return "appeared";
    case Event::Kind::Lost:
        return "lost";
    case Event::Kind::Back:
        return "back";
    case Event::Kind::Changed:
        return "changed";
    }
    return "";
}

Inventory::Inventory(const Tracking &tracking)
    : lostAfter_(secondsDuration(tracking.lostAfter)),
      forgetAfter_(secondsDuration(tracking.forgetAfter)),
      maxDevices_(tracking.maxDevices) {}

std::vector<Event> Inventory::heard(const Sighting &s, const Moment &at) {
    std::vector<Event> events;
    if (devices_.size() >= maxDevices_ && !devices_.contains(s.mac)) {
        forget(at);
        if (devices_.size() >= maxDevices_) {
            dropped_++;
            return events;
        }
    }
    auto [it, isNew] = devices_.try_emplace(s.mac);
    TrackedDevice &d = it->second;
    const Sighting before = d.last;
    const bool wasUp = d.up;
    d.last = s;
    if (s.model)
        d.model = *s.model;
    if (s.rttSeconds)
        d.rttSeconds = s.rttSeconds;
    // A late sighting (a discovery reply collected before an announcement
    // that was handled first) must not move the last-heard time back.
    if (isNew || at.steady > d.heard.steady)
        d.heard = at;
    d.up = true;
    if (isNew) {
        events.push_back({Event::Kind::Appeared, at.wall, d, {}, {}});
        return events;
    }
    if (!wasUp)
        events.push_back({Event::Kind::Back, at.wall, d, {}, {}});
    const std::pair<const char *, std::pair<std::string, std::string>> fields[] = {
        {"ipv4", {formatIpv4(before.ipv4), formatIpv4(s.ipv4)}},
        {"ipv6", {before.ipv6Text(), s.ipv6Text()}},
        {"name", {before.name, s.name}},
        {"firmware", {before.firmware, s.firmware}},
    };
    for (const auto &[field, values] : fields) {
        if (values.first != values.second)
            events.push_back({Event::Kind::Changed, at.wall, d, field, values.first});
    }
    return events;
}

std::vector<Event> Inventory::expire(const Moment &now) {
    std::vector<Event> events;
    for (auto &[mac, d] : devices_) {
        if (d.up && now.steady - d.heard.steady >= lostAfter_) {
            d.up = false;
            events.push_back({Event::Kind::Lost, now.wall, d, {}, {}});
        }
    }
    forget(now);
    return events;
}

void Inventory::forget(const Moment &now) {
    std::erase_if(devices_, [&](const auto &entry) {
        const TrackedDevice &d = entry.second;
        return !d.up && now.steady - d.heard.steady >= forgetAfter_;
    });
}

std::optional<Clock::time_point> Inventory::nextExpiry() const {
    std::optional<Clock::time_point> next;
    for (const auto &[mac, d] : devices_) {
        if (d.up && (!next || d.heard.steady + lostAfter_ < *next))
            next = d.heard.steady + lostAfter_;
    }
    return next;
}

Tracking trackingOptions(Args &a, double shortestGap) {
    Tracking t;
    char buf[160];
    if (const std::optional<std::string> v = a.value("--lost-after")) {
        t.lostAfter = parseSeconds(*v, "--lost-after");
        if (t.lostAfter <= shortestGap) {
            std::snprintf(buf, sizeof buf,
                          "--lost-after must be more than %g seconds: a device that is up can go "
                          "that long without being heard.",
                          shortestGap);
            throw UsageError(buf);
        }
    }
    if (const std::optional<std::string> v = a.value("--forget-after")) {
        t.forgetAfter = parseSeconds(*v, "--forget-after");
        if (t.forgetAfter < t.lostAfter) {
            std::snprintf(buf, sizeof buf,
                          "--forget-after must be at least the lost threshold, %g seconds: only "
                          "devices that are down are forgotten.",
                          t.lostAfter);
            throw UsageError(buf);
        }
    } else {
        t.forgetAfter = std::max(t.forgetAfter, t.lostAfter);
    }
    if (const std::optional<std::string> v = a.value("--max-devices"))
        t.maxDevices = static_cast<size_t>(parseInteger(*v, "--max-devices", 1, 1000000));
    return t;
}

std::string rfc3339(WallClock::time_point t) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch());
    const std::time_t secs = static_cast<std::time_t>(ms.count() / 1000);
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char buf[40];
    const size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    std::snprintf(buf + n, sizeof buf - n, ".%03dZ", static_cast<int>(ms.count() % 1000));
    return buf;
}

double unixSeconds(WallClock::time_point t) {
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

}  // namespace tarn
