// tarn_load: the load client of the benchmarks and the soak test. Runs in
// the utility's network namespace, sends requests by broadcast to the
// access point and matches the broadcast replies on port 62992 by tag.
//
// Two ways to make the requests:
//   --op NAME     one request kind, repeated --count times (see kOps);
//   --replay FILE datagrams prepared by the soak test, sent in file order.
//                 Records: kind (1 byte: 0 = plain, 1 = probe), length
//                 (32-bit little-endian), bytes. Only probes are expected
//                 to be answered; their tags are replaced by the client's.
// At most --window requests (probes) are unanswered at a time; one that
// stays unanswered for --timeout-ms counts as lost. The whole run ends
// after --max-seconds at the latest. Prints one JSON line of figures.
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <wire.h>

#include "bench_socket.h"
#include "codec.h"

namespace {

using bench::Fd;
using bench::ipv4Address;
using bench::onInterface;
using Clock = std::chrono::steady_clock;
using Datagram = std::vector<uint8_t>;

// The request kinds of --op: op code and how the body is made. Whether a
// credential block leads the body is the utility's encoder's business.
enum class BodyKind { None, Radio0, Snmp, FirmwareQuery };

struct OpKind {
    std::string_view name;
    uint16_t op;
    BodyKind body;
};

constexpr std::array kOps = {
    OpKind{"neighbor", wire::OP_QUERY_NEIGHBOR, BodyKind::None},
    OpKind{"discover", wire::OP_DISCOVER, BodyKind::None},
    OpKind{"supported", wire::OP_QUERY_SUPPORTED, BodyKind::None},
    OpKind{"multi-ssid-get", wire::OP_GET_MULTI_SSID, BodyKind::Radio0},
    OpKind{"snmp-set", wire::OP_SNMP_CONFIG, BodyKind::Snmp},
    OpKind{"firmware-query", wire::OP_FIRMWARE_UPGRADE, BodyKind::FirmwareQuery},
};

constexpr long kMaxCount = 10'000'000;
constexpr long kMaxWindow = 1024;
constexpr long kMaxSeconds = 3600;
constexpr uint16_t kProbeTagBase = 0x8000;  // replay probes; the soak's own tags stay below

struct Options {
    const char *device = "tarnbr0";
    uint16_t port = wire::kRequestPort;
    std::array<uint8_t, 6> mac{};
    std::array<uint8_t, 4> ip{};
    const OpKind *op = nullptr;
    const char *replay = nullptr;
    std::string user = "admin";
    std::string password = "tarnadmin";
    uint8_t snmpState = 0;
    std::string snmpRo, snmpRw;
    long count = 1000;
    long window = 1;
    long timeoutMs = 1000;
    long maxSeconds = 300;
};

// ---- Request encoding --------------------------------------------------------

size_t bodyLength(BodyKind kind) {
    switch (kind) {
    case BodyKind::None:
        return 0;
    case BodyKind::Radio0:
        return 1;
    case BodyKind::Snmp:
        return wire::snmp::kBodyLen;
    case BodyKind::FirmwareQuery:
        return wire::transfer::kBodyLenV4;
    }
    return 0;
}

void writeBody(const Options &opt, wire::Bytes body) {
    switch (opt.op->body) {
    case BodyKind::None:
    case BodyKind::Radio0:  // radio index 0: the body is already zero
        return;
    case BodyKind::Snmp:
        wire::store_u8(body, wire::snmp::kState, opt.snmpState);
        wire::store_text(body, wire::snmp::kRoCommunity, wire::snmp::kCommunityLen, opt.snmpRo);
        wire::store_text(body, wire::snmp::kRwCommunity, wire::snmp::kCommunityLen, opt.snmpRw);
        return;
    case BodyKind::FirmwareQuery:
        wire::store_u8(body, wire::transfer::kSubService, wire::transfer::SST_QUERY);
        return;
    }
}

// An addressed request of the chosen kind, made by the utility's encoder;
// its tag is set when it is sent.
Datagram encodeRequest(const Options &opt) {
    Datagram body(bodyLength(opt.op->body), 0);
    writeBody(opt, body);
    return tarn::encodeRequest(opt.op->op, 0, tarn::Address{opt.mac, opt.ip},
                               tarn::Credentials{opt.user, opt.password}, body);
}

// ---- Work --------------------------------------------------------------------

// One unit of work: plain datagrams sent as they are, then the probe whose
// reply shows the daemon has got through all of them.
struct Unit {
    std::vector<Datagram> plain;
    Datagram probe;
};

std::optional<std::vector<Unit>> readReplay(const char *path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    const wire::ConstBytes all(data);
    std::vector<Unit> units(1);
    size_t off = 0;
    while (off + 5 <= all.size()) {
        const uint8_t kind = wire::load_u8(all, off);
        const size_t len = wire::load_le32(all, off + 1);
        off += 5;
        if (len > all.size() - off)
            return std::nullopt;
        Datagram d(all.begin() + static_cast<long>(off),
                   all.begin() + static_cast<long>(off + len));
        off += len;
        if (kind == 1) {
            units.back().probe = std::move(d);
            units.emplace_back();
        } else {
            units.back().plain.push_back(std::move(d));
        }
    }
    if (off != all.size() || !units.back().plain.empty())
        return std::nullopt;  // a file must end with a probe
    units.pop_back();
    return units;
}

struct Figures {
    long datagramsSent = 0;
    long sendErrors = 0;
    long repliesReceived = 0;
    long answered = 0;
    long lost = 0;
    std::vector<int64_t> rttNs;
};

struct Outstanding {
    uint16_t tag;
    Clock::time_point sentAt;
};

class Runner {
public:
    Runner(const Options &opt, int sock)
        : opt_(opt), sock_(sock), to_(ipv4Address(htonl(INADDR_BROADCAST), opt.port)) {}

    // Sends the units in order, `count` of them in all (cycling through
    // `units`), with at most `window` probes unanswered.
    Figures run(std::vector<Unit> &units, long count) {
        const auto deadline = Clock::now() + std::chrono::seconds(opt_.maxSeconds);
        long issued = 0;
        const uint16_t tagBase = opt_.replay ? kProbeTagBase : 0;
        const uint16_t tagSpan = opt_.replay ? 0x8000 : 0;
        while ((issued < count || !open_.empty()) && Clock::now() < deadline) {
            while (issued < count && static_cast<long>(open_.size()) < opt_.window) {
                Unit &u = units[static_cast<size_t>(issued % static_cast<long>(units.size()))];
                for (const Datagram &d : u.plain)
                    send(d);
                const uint16_t tag =
                    static_cast<uint16_t>(tagBase + (tagSpan ? issued % tagSpan : issued & 0xFFFF));
                wire::store_le16(u.probe, wire::kOffMsgTag, tag);
                probeOp_ = wire::load_le16(u.probe, wire::kOffOpCode);
                // Stamped before the send: on two cores the reply can be
                // back before sendto() returns.
                open_.push_back({tag, Clock::now()});
                send(u.probe);
                issued++;
            }
            receive();
            expire();
        }
        fig_.lost += static_cast<long>(open_.size());
        return fig_;
    }

private:
    void send(const Datagram &d) {
        fig_.datagramsSent++;
        if (sendto(sock_, d.data(), d.size(), 0, reinterpret_cast<const sockaddr *>(&to_),
                   sizeof to_) < 0)
            fig_.sendErrors++;
    }

    void receive() {
        pollfd p{sock_, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            return;
        std::array<uint8_t, 65536> buf;
        for (;;) {
            const ssize_t got = recv(sock_, buf.data(), buf.size(), MSG_DONTWAIT);
            if (got < 0)
                return;
            fig_.repliesReceived++;
            match(std::span<const uint8_t>(buf).first(static_cast<size_t>(got)));
        }
    }

    void match(wire::ConstBytes reply) {
        const wire::message_t hdr = wire::decode_header(reply);
        if (hdr.uMsgType != wire::kTypeReply || hdr.uOP_Code != probeOp_)
            return;
        auto it = std::find_if(open_.begin(), open_.end(),
                               [&](const Outstanding &o) { return o.tag == hdr.uMsgTag; });
        if (it == open_.end())
            return;
        fig_.rttNs.push_back(
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - it->sentAt)
                .count());
        fig_.answered++;
        open_.erase(it);
    }

    void expire() {
        const auto limit = Clock::now() - std::chrono::milliseconds(opt_.timeoutMs);
        while (!open_.empty() && open_.front().sentAt < limit) {
            fig_.lost++;
            open_.pop_front();
        }
    }

    const Options &opt_;
    int sock_;
    sockaddr_in to_;
    uint16_t probeOp_ = 0;
    std::deque<Outstanding> open_;
    Figures fig_;
};

// ---- Command line and output -------------------------------------------------

bool parseMac(const char *text, std::array<uint8_t, 6> &mac) {
    unsigned b[6];
    if (std::sscanf(text, "%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) != 6)
        return false;
    for (size_t i = 0; i < 6; i++)
        mac[i] = static_cast<uint8_t>(b[i]);
    return true;
}

const OpKind *findOp(std::string_view name) {
    auto it =
        std::find_if(kOps.begin(), kOps.end(), [&](const OpKind &k) { return k.name == name; });
    return it == kOps.end() ? nullptr : &*it;
}

bool parse(int argc, char **argv, Options &opt) {
    bool haveMac = false, haveIp = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string_view a = argv[i];
        const char *v = argv[i + 1];
        if (a == "--device")
            opt.device = v;
        else if (a == "--port")
            opt.port = static_cast<uint16_t>(std::strtoul(v, nullptr, 10));
        else if (a == "--mac")
            haveMac = parseMac(v, opt.mac);
        else if (a == "--ip")
            haveIp = inet_pton(AF_INET, v, opt.ip.data()) == 1;
        else if (a == "--op")
            opt.op = findOp(v);
        else if (a == "--replay")
            opt.replay = v;
        else if (a == "--user")
            opt.user = v;
        else if (a == "--password")
            opt.password = v;
        else if (a == "--snmp-state")
            opt.snmpState = static_cast<uint8_t>(std::strtoul(v, nullptr, 10));
        else if (a == "--snmp-ro")
            opt.snmpRo = v;
        else if (a == "--snmp-rw")
            opt.snmpRw = v;
        else if (a == "--count")
            opt.count = std::strtol(v, nullptr, 10);
        else if (a == "--window")
            opt.window = std::strtol(v, nullptr, 10);
        else if (a == "--timeout-ms")
            opt.timeoutMs = std::strtol(v, nullptr, 10);
        else if (a == "--max-seconds")
            opt.maxSeconds = std::strtol(v, nullptr, 10);
        else
            return false;
    }
    if (argc % 2 != 1)
        return false;
    const bool oneSource = (opt.op != nullptr) != (opt.replay != nullptr);
    return oneSource && (opt.replay || (haveMac && haveIp)) && opt.count > 0 &&
           opt.count <= kMaxCount && opt.window > 0 && opt.window <= kMaxWindow &&
           opt.timeoutMs > 0 && opt.maxSeconds > 0 && opt.maxSeconds <= kMaxSeconds;
}

int usage() {
    std::fprintf(stderr,
                 "usage: tarn_load (--op NAME --mac MAC --ip IP | --replay FILE) [--count N]\n"
                 "       [--window W] [--port P] [--device IF] [--user U --password P]\n"
                 "       [--snmp-state S --snmp-ro TEXT --snmp-rw TEXT] [--timeout-ms T]\n"
                 "       [--max-seconds S]\n  ops:");
    for (const OpKind &k : kOps)
        std::fprintf(stderr, " %.*s", static_cast<int>(k.name.size()), k.name.data());
    std::fprintf(stderr, "\n");
    return 2;
}

double micros(int64_t ns) {
    return static_cast<double>(ns) / 1000.0;
}

void print(Figures &f, double seconds) {
    std::sort(f.rttNs.begin(), f.rttNs.end());
    const size_t n = f.rttNs.size();
    const double p50 = n ? micros(f.rttNs[n / 2]) : 0;
    const double p99 = n ? micros(f.rttNs[std::min(n - 1, n * 99 / 100)]) : 0;
    std::printf(
        "{\"sent\": %ld, \"send_errors\": %ld, \"replies\": %ld, \"answered\": %ld, "
        "\"lost\": %ld, \"seconds\": %.3f, \"rate\": %.1f, \"p50_us\": %.1f, "
        "\"p99_us\": %.1f}\n",
        f.datagramsSent, f.sendErrors, f.repliesReceived, f.answered, f.lost, seconds,
        seconds > 0 ? static_cast<double>(f.answered) / seconds : 0.0, p50, p99);
}

int openSocket(const Options &opt) {
    Fd s(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (s.fd < 0)
        return -1;
    const int one = 1;
    const int buffer = 8 << 20;
    setsockopt(s.fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setsockopt(s.fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
    const sockaddr_in a = ipv4Address(htonl(INADDR_ANY), wire::kReplyPort);
    if (!onInterface(s.fd, opt.device) ||
        bind(s.fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0)
        return -1;
    return std::exchange(s.fd, -1);
}

}  // namespace

int main(int argc, char **argv) {
    Options opt;
    if (!parse(argc, argv, opt))
        return usage();
    std::vector<Unit> units;
    if (opt.replay) {
        auto read = readReplay(opt.replay);
        if (!read || read->empty()) {
            std::fprintf(stderr, "tarn_load: %s is not a replay file\n", opt.replay);
            return 1;
        }
        units = std::move(*read);
        opt.count = static_cast<long>(units.size());
    } else {
        units.push_back({{}, encodeRequest(opt)});
    }
    Fd sock(openSocket(opt));
    if (sock.fd < 0) {
        std::perror("tarn_load: socket");
        return 1;
    }
    Runner runner(opt, sock.fd);
    const auto start = Clock::now();
    Figures f = runner.run(units, opt.count);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    print(f, seconds);
    return f.answered > 0 ? 0 : 1;
}
