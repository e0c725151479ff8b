#include "announcements.h"

#include "codec.h"

namespace tarn {

std::optional<Heard> nextAnnouncement(Transport &t, Clock::time_point deadline) {
    while (auto d = t.receive(deadline)) {
        if (auto a = decodeAnnouncement(d->bytes))
            return Heard{std::move(*a), d->ifname, d->at};
    }
    return std::nullopt;
}

std::optional<Heard> waitForDevice(Transport &t, const Mac &mac, Clock::time_point deadline) {
    while (auto h = nextAnnouncement(t, deadline)) {
        if (h->announcement.mac == mac)
            return h;
    }
    return std::nullopt;
}

}  // namespace tarn
