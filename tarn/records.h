// The device's data as output records; the keys are the JSON keys that
// the manual page documents.
#pragma once

#include <optional>
#include <string>

#include "model.h"
#include "output.h"
#include "session.h"

namespace tarn {

Record deviceRecord(const Found &found);
Record announcementRecord(const Announcement &a, const std::string &ifname);
// A discovered device in the shape of an announcement, for lists that mix both.
Record announcementRecord(const Found &found);
Record neighborRecord(const Neighbor &n, const std::string &ifname);

// "2001:db8::10/64" (or without the prefix length when none is given), or
// a null field when the address is all zero.
Field ipv6Field(std::string key, const Ipv6 &addr, std::optional<uint8_t> prefix = std::nullopt);
// "2024-05-01 12:34:56" from the device's 14 digits; other texts as they are.
std::string formatStamp(const std::string &stamp);

}  // namespace tarn
