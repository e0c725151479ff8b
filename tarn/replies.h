// Replies as the utility weighs them. Replies are broadcast, so any host on
// the segment sees every request and can answer it: the utility keeps every
// answer to a request for a short while and compares them.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "addr.h"
#include "codec.h"

namespace tarn {

// How long tarn listens on after the first matching reply, so that a second,
// different answer to the same request is noticed before anything is used.
inline constexpr double kGraceSeconds = 0.3;
// The most devices one discovery keeps; further ones are counted, not kept.
inline constexpr size_t kMaxDevices = 4096;
// The most hosts kept for one MAC: enough to tell one from several.
inline constexpr size_t kMaxHostsPerMac = 8;

struct Reply {
    wire::message_t header{};
    Bytes body;
    std::string ifname;
    Ipv4 from{};  // the sender's address
    double rttMs = 0;
};

Mac macOf(const Reply &reply);

// The same answer: header and body byte for byte.
bool sameAnswer(const Reply &a, const Reply &b);

// A device answers a broadcast request once on each interface it is reached
// on, always from the same address and with the same answer. Any other
// second answer with its MAC comes from another host.
bool sameHost(const Reply &a, const Reply &b);

// The answers to one addressed request sent in several tries, each try with
// its own tag. The first answer to any try is the answer; every later one is
// compared only with the first that carries its tag, since answers to
// different tries may differ over time (a clock, a transfer's progress).
class TriedAnswers {
public:
    // False when the reply differs from an earlier answer to the same try.
    bool add(Reply reply);
    const Reply *answer() const { return firsts_.empty() ? nullptr : &firsts_.front(); }

private:
    std::vector<Reply> firsts_;  // the first answer to each try, in order of arrival
};

// The answers to one broadcast request, by MAC (a map, so n answers cost
// O(n log n)), each MAC with the hosts that answered as it.
class DeviceReplies {
public:
    explicit DeviceReplies(size_t limit = kMaxDevices) : limit_(limit) {}

    void add(Reply reply);
    // MAC -> one reply per host, in order of arrival.
    const std::map<Mac, std::vector<Reply>> &devices() const { return devices_; }
    // Answers from devices beyond the limit, left out.
    size_t dropped() const { return dropped_; }

private:
    size_t limit_;
    size_t dropped_ = 0;
    std::map<Mac, std::vector<Reply>> devices_;
};

// "conflicting replies for 00:11:22:33:44:55: is another host answering for it?"
std::string conflictText(const Mac &mac);

}  // namespace tarn
