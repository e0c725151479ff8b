// A fleet managed as code: the devices' settings read in parallel, compared
// with a manifest field by field, and the differences written back in a
// safe order and verified.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "manifest.h"
#include "model.h"
#include "session.h"

namespace tarn {

// How many devices are read or written at once: enough to hide the
// round trips, few enough that a segment of hundreds is not flooded.
inline constexpr size_t kFleetParallel = 16;

// Runs work(i) for i in 0..count-1 on at most `parallel` threads at once.
void forEachBounded(size_t count, size_t parallel, const std::function<void(size_t)> &work);

// The groups of settings, each written with one request, in the order
// apply writes them: the address moves the device, so it goes last.
enum class Group { Ddns, Time, Wlan24, Wlan5, ManagementVlan, Snmp, Basic };

// What the device reports, read group by group as needed.
struct DeviceState {
    Found found;
    std::optional<Ddns> ddns;
    std::optional<DateTime> time;
    std::array<std::optional<MultiSsid>, kManifestRadios.size()> wlan;
};

// Which groups to read: what a manifest device names, or everything.
struct Reads {
    bool ddns = false, time = false;
    std::array<bool, kManifestRadios.size()> wlan{};
};
Reads readsFor(const ManifestDevice &d);
inline constexpr Reads kReadEverything{true, true, {true, true}};
DeviceState readState(Session &s, const Reads &reads);

struct Change {
    Group group;
    std::string field;  // "wlan 2.4/1 ssid"
    std::string from, to;
    bool secret = false;  // shown as "(changed)", never with its values
};

// The settings each group's request would carry, and what differs.
struct DevicePlan {
    Mac mac{};
    std::string name;
    std::vector<Change> changes;
    std::vector<std::string> notes;
    // Why the device cannot be planned or written; empty when it can.
    std::string error;
    BasicInfo basic;
    Ddns ddns;
    DateTime time;
    std::array<MultiSsid, kManifestRadios.size()> wlan;
    uint32_t managementVlan = 0;
    bool snmpOn = false;
    std::string readCommunity, writeCommunity;

    bool touches(Group g) const;
};

// Compares a manifest device with its state. Settings that the protocol
// cannot read (management VLAN, SNMP) are changes only when `writeOnly`;
// otherwise a note says they are not compared. Values tarn will not send
// and values it would have to write back cut end in `error`.
DevicePlan planDevice(const ManifestDevice &want, const DeviceState &state, bool writeOnly);

// Writes the plan's changes, group by group, then commits and reads every
// group back. Throws on a refusal or a device that stops answering, with
// `written` counting the changes already sent; returns whether the device
// reports every written field as planned.
bool applyPlan(Session &s, const ManifestDevice &want, const DevicePlan &plan, size_t &written);

// The devices as a manifest in YAML, secrets as env: references; `secrets`
// receives each variable's name and value, in order.
std::string exportManifest(const std::vector<DeviceState> &states,
                           std::vector<std::pair<std::string, std::string>> &secrets);

}  // namespace tarn
