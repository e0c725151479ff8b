// The devices heard on the segment and what changed about them. The
// exporter and `tarn watch` feed it announcements and discovery replies and
// ask it for the devices that fell silent; it does no I/O, so every event
// sequence is checked by tests with made-up times.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "args.h"
#include "model.h"
#include "session.h"

namespace tarn {

using WallClock = std::chrono::system_clock;

// Devices announce themselves every 30 seconds.
inline constexpr double kAnnouncementInterval = 30;
// Three missed announcements and a margin for a late one.
inline constexpr double kDefaultLostAfter = 95;
// A device down for a day is taken as retired: it stops being listed (and
// alerted on) until it is heard again.
inline constexpr double kDefaultForgetAfter = 24 * 3600;
// Announcements are not authenticated: anyone on the segment can make up
// MAC addresses, so the devices kept are capped.
inline constexpr size_t kDefaultMaxDevices = 4096;

// How long devices are kept, and how many.
struct Tracking {
    double lostAfter = kDefaultLostAfter;      // silence after which a device is lost
    double forgetAfter = kDefaultForgetAfter;  // silence after which it is forgotten
    size_t maxDevices = kDefaultMaxDevices;
};

// --lost-after, --forget-after and --max-devices. The lost threshold must
// be more than `shortestGap` seconds, the longest a device that is up can
// stay unheard: a threshold equal to it flaps with every late datagram.
Tracking trackingOptions(Args &a, double shortestGap);

// A moment on both clocks: the steady one measures silence, the wall one
// is what people and Prometheus read.
struct Moment {
    Clock::time_point steady;
    WallClock::time_point wall;
    static Moment now() { return {Clock::now(), WallClock::now()}; }
};

// What one announcement or discovery reply tells about a device.
struct Sighting {
    Mac mac{};
    std::string name;
    std::string firmware;
    Ipv4 ipv4{};
    Ipv6 ipv6{};
    uint8_t ipv6Prefix = 0;
    std::string ifname;
    std::optional<std::string> model;  // discovery replies only
    std::optional<double> rttSeconds;  // discovery replies only

    static Sighting from(const Announcement &a, const std::string &ifname);
    static Sighting from(const Found &f);
    // "2001:db8::11/64", or "" without an IPv6 address.
    std::string ipv6Text() const;
};

struct TrackedDevice {
    Sighting last;      // name, addresses and firmware as last heard
    std::string model;  // from the last discovery reply, "" until one came
    std::optional<double> rttSeconds;
    Moment heard;
    bool up = true;
};

struct Event {
    enum class Kind { Appeared, Lost, Back, Changed };
    Kind kind;
    WallClock::time_point at;
    TrackedDevice device;  // after the change
    std::string field;     // Changed: "ipv4", "ipv6", "name" or "firmware"
    std::string previous;  // Changed: the field's former value
};

std::string_view eventName(Event::Kind kind);

class Inventory {
public:
    explicit Inventory(const Tracking &tracking);

    // Records a sighting; returns what it changed, in order: "appeared" or
    // "back", then one "changed" per field that differs. A new device
    // while the inventory is full is dropped, without an event.
    std::vector<Event> heard(const Sighting &s, const Moment &at);
    // Marks the devices silent for the lost threshold as lost, once each,
    // and forgets those silent for the forget threshold.
    std::vector<Event> expire(const Moment &now);
    // When the next device would be lost, if any is up.
    std::optional<Clock::time_point> nextExpiry() const;

    const std::map<Mac, TrackedDevice> &devices() const { return devices_; }
    // Sightings of new devices dropped because the inventory was full.
    uint64_t dropped() const { return dropped_; }

private:
    void forget(const Moment &now);

    Clock::duration lostAfter_;
    Clock::duration forgetAfter_;
    size_t maxDevices_;
    uint64_t dropped_ = 0;
    std::map<Mac, TrackedDevice> devices_;
};

// "2026-12-06T11:52:03.250Z".
std::string rfc3339(WallClock::time_point t);
double unixSeconds(WallClock::time_point t);

}  // namespace tarn
