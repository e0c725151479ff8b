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
};

// A device as discovery found it.
struct Found {
    DeviceInfo info;
    std::string ifname;
    double rttMs = 0;
};

struct Reply {
    wire::message_t header{};
    Bytes body;
    std::string ifname;
    double rttMs = 0;
};

class Session {
  public:
    explicit Session(Options options);

    const Options &options() const { return options_; }

    // Broadcasts one discovery and collects the replies for the timeout;
    // a device that answers on several interfaces is listed once.
    std::vector<Found> discover();
    // Broadcasts `op` (one of the operations a device answers by broadcast
    // without credentials) and collects the replies for the timeout, one
    // per device.
    std::vector<Reply> collect(uint16_t op);

    // The device named with -d; found by discovery on first use.
    const Found &target();
    // Sends an addressed request to the target and returns the matching
    // reply. Throws RefusedError for an authentication failure or an
    // unsupported operation, NoReplyError when every try went unanswered.
    // `lastWait` lengthens the wait after the last try, for operations the
    // device carries out before it answers (an HTTP download, a backup).
    Reply call(uint16_t op, std::span<const uint8_t> body, double lastWait = 0);
    // One try of call(): nothing when the device did not answer in time.
    // Progress queries use it, since a device that is rebooting is silent.
    std::optional<Reply> callOnce(uint16_t op, std::span<const uint8_t> body);

    // The administrator credentials, asked for once.
    const Credentials &credentials();

    // Interfaces to use: the target's once it is known, else -i or all.
    std::vector<std::string> interfaces() const;
    // "2 s": the timeout for messages.
    std::string timeoutText() const { return secondsText(options_.timeout); }
    static std::string secondsText(double seconds);

  private:
    Transport &replies();
    uint16_t newTag();
    static Reply toReply(const wire::message_t &h, const Datagram &d, Clock::time_point sent);
    std::optional<Reply> exchange(uint16_t op, uint16_t tag, const std::optional<Address> &to,
                                  std::span<const uint8_t> request, const std::string &ifname,
                                  double wait);
    // Sends an addressed request up to `tries` times.
    std::optional<Reply> send(uint16_t op, std::span<const uint8_t> body, int tries,
                              double lastWait);

    Options options_;
    std::unique_ptr<Transport> transport_;
    std::optional<Found> target_;
    std::optional<Credentials> credentials_;
    std::mt19937 random_;
};

// Parses the -d argument; throws UsageError for anything else.
struct Selector {
    std::optional<Mac> mac;
    std::optional<Ipv4> ip;
};
Selector parseSelector(const std::string &text);

}  // namespace tarn
