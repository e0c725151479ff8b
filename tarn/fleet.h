// A fleet managed as code: the devices' settings read in parallel, compared
// with a manifest field by field, and the differences written back in a
// safe order and verified.
#pragma once

#include <array>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "credentials.h"
#include "errors.h"
#include "manifest.h"
#include "model.h"
#include "session.h"

namespace tarn {

// How many devices are read or written at once: enough to hide the
// round trips, few enough that a segment of hundreds is not flooded.
inline constexpr size_t kFleetParallel = 16;

// Runs work(i) for i in 0..count-1 on at most `parallel` threads at once.
void forEachBounded(size_t count, size_t parallel, const std::function<void(size_t)> &work);

// The session's options aimed at one device.
Options deviceOptions(Session &s, const Mac &mac);

// One discovery for the whole fleet, shared while it runs: a device's
// reads start as soon as it answers, not when the discovery's time is up.
class SharedDiscovery {
public:
    explicit SharedDiscovery(Session &s) : thread_([this, &s] { run(s); }) {}
    ~SharedDiscovery();

    // The device as the discovery saw it, or found on its own with retries
    // when the discovery missed it; nothing when it does not answer.
    std::optional<Found> locate(Session &s, const Mac &mac);
    // Every device that answered, once the discovery is over.
    std::vector<Found> finish();

private:
    void run(Session &s);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Found> seen_, all_;
    std::exception_ptr error_;
    bool done_ = false;
    std::thread thread_;  // last: starts once the rest is built
};

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

// One device of a fleet read: its state, or why it has none.
struct FleetRead {
    std::optional<DeviceState> state;
    std::string error;
    ExitCode code = kExitOk;
};
// Reads each of `macs`, kFleetParallel at once, as the discovery finds
// them. A MAC that two hosts answer to is refused once the discovery ends:
// its reads may mix both.
std::vector<FleetRead> readFleet(Session &s,
                                 SharedDiscovery &discovery,
                                 const std::vector<Mac> &macs,
                                 const Credentials &cred,
                                 const Reads &reads);
// The states read whole, in order; each device that was not is named on
// standard error.
std::vector<DeviceState> keepRead(std::vector<FleetRead> &reads);

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
