// Waiting for the periodic announcements that devices broadcast to the
// request port: listen, watch, and the wait for a device coming back.
#pragma once

#include <optional>
#include <string>

#include "model.h"
#include "transport.h"

namespace tarn {

struct Heard {
    Announcement announcement;
    std::string ifname;
    Clock::time_point at;
};

// The next announcement on any of the transport's interfaces; other
// datagrams on the port are skipped.
std::optional<Heard> nextAnnouncement(Transport &t, Clock::time_point deadline);
// The next announcement of the device with `mac`.
std::optional<Heard> waitForDevice(Transport &t, const Mac &mac, Clock::time_point deadline);

}  // namespace tarn
