// Talking to devices: discovery, finding the device named with -d, and
// addressed requests with retries and reply matching.
#pragma once

#include <memory>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "codec.h"
#include "replies.h"
#include "transport.h"

namespace tarn {

struct Options {
    std::vector<std::string> interfaces;  // -i; empty: every broadcast interface
    std::string device;                   // -d: a MAC or an IPv4 address
    double timeout = 2.0;                 // -t: seconds per try, or of a discovery
    int retries = 2;                      // -r: further tries after the first
    std::string user = "admin";           // -u
    std::string passwordFile;             // --password-file
    bool json = false;                    // --json
    double grace = kGraceSeconds;         // seconds to listen on for a second answer
};

// A device as discovery found it.
struct Found {
    DeviceInfo info;
    std::string ifname;
    double rttMs = 0;
};

// Parses the -d argument; throws UsageError for anything else.
struct Selector {
    std::optional<Mac> mac;
    std::optional<Ipv4> ip;
};
Selector parseSelector(const std::string &text);

class Session {
public:
    explicit Session(Options options);
    // A session for a device already found (one discovery serves a whole
    // fleet) with the credentials already asked for.
    Session(Options options, Found target, Credentials credentials);

    const Options &options() const { return options_; }

    // Broadcasts one discovery and collects the replies for the timeout,
    // sorted by MAC: a device that answers on several interfaces is listed
    // once, and every host that answers as one MAC is listed.
    std::vector<Found> discover(size_t *dropped = nullptr);
    // Broadcasts `op` (one of the operations a device answers by broadcast
    // without credentials) and collects the replies for the timeout.
    DeviceReplies collect(uint16_t op);

    // The device named with -d; found by discovery on first use. Refuses a
    // MAC that two hosts answer as, and an address that two devices use.
    const Found &target();
    // Takes a device that a discovery of the whole segment found as the
    // target, for commands that work through every device.
    void adopt(const Found &device) { target_ = device; }
    // Discovers the target again, for reading back what discovery reports.
    const Found &rediscover();
    // Sends an addressed request to the target and returns the matching
    // reply. Throws RefusedError for an authentication failure or an
    // unsupported operation, NoReplyError when every try went unanswered.
    // `lastWait` lengthens the wait after the last try, for operations the
    // device carries out before it answers (an HTTP download, a backup).
    Reply call(uint16_t op, std::span<const uint8_t> body, double lastWait = 0);
    // One try of call(): nothing when the device did not answer in time.
    // Progress queries use it, since a device that is rebooting is silent.
    std::optional<Reply> callOnce(uint16_t op, std::span<const uint8_t> body);
    // For requests that start work on the device (a transfer, a reboot, a
    // reset): sent once, never again, since every copy would start the work
    // anew; the answer is awaited for `seconds`, long enough for the work the
    // device does before it answers.
    Reply start(uint16_t op, std::span<const uint8_t> body, double seconds);
    // A reboot or reset answers before it begins.
    static constexpr double kRestartPatience = 10;

    // The administrator credentials, asked for once.
    const Credentials &credentials();

    // Interfaces to use: the target's once it is known, else -i or all.
    std::vector<std::string> interfaces() const;
    // "2 s": the timeout for messages.
    std::string timeoutText() const { return secondsText(options_.timeout); }
    // "2 s", or with a fixed count of decimals ("6.1 s") for measured times.
    static std::string secondsText(double seconds, int decimals = -1);

private:
    Transport &replies();
    uint16_t newTag();
    static Reply toReply(const wire::message_t &h, const Datagram &d, Clock::time_point sent);
    // Sends one try (tagged with the last of `tags`) and waits for the first
    // reply to it or to an earlier try, then listens on for the grace period:
    // two different answers to one try are refused.
    std::optional<Reply> exchange(uint16_t op,
                                  std::span<const uint16_t> tags,
                                  const std::optional<Address> &to,
                                  std::span<const uint8_t> request,
                                  const std::string &ifname,
                                  double wait);
    // Sends an addressed request up to `tries` times; `waited` is the time
    // spent, for messages.
    std::optional<Reply> send(uint16_t op,
                              std::span<const uint8_t> body,
                              int tries,
                              double lastWait,
                              double &waited);
    // One discovery for the -d selector; the replies that match it.
    DeviceReplies findTarget(const Selector &sel);

    Options options_;
    std::unique_ptr<Transport> transport_;
    std::optional<Found> target_;
    std::optional<Credentials> credentials_;
    // The system's random source for every tag: a generator's sequence can
    // be told from the tags it has produced, so a host that watched them
    // could answer the next request before it is sent.
    std::random_device random_;
};

}  // namespace tarn
