// floor_server: the least a request/reply server on the access point can
// do, as the yardstick for tarnd's figures. It receives on the management
// interface exactly as tarnd does (a socket bound to 255.255.255.255 and
// the interface, a separate unbound send socket) and answers every
// datagram at once with a reply as long as the neighbour query's (253
// bytes): the request header marked as a reply, followed by zero bytes.
//
// Replies are broadcast to port 62992 like tarnd's; --unicast sends them
// back to the sender instead. It listens on its own port (default 62978)
// so that it can run next to tarnd. It ends after --seconds or --count.
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include <wire.h>

#include "bench_socket.h"

namespace {

using bench::Fd;
using bench::ipv4Address;
using bench::onInterface;

constexpr size_t kReplyLen = wire::kHeaderLen + wire::neighbor::kBodyLen;
constexpr long kMaxSeconds = 3600;

struct Options {
    const char *interface = "brtrunk";
    uint16_t port = 62978;
    bool unicast = false;
    long seconds = 120;
    long count = 10'000'000;
};

int usage() {
    std::fprintf(stderr,
                 "usage: floor_server [--interface IF] [--port N] [--unicast] "
                 "[--seconds S] [--count N]\n");
    return 2;
}

bool parse(int argc, char **argv, Options &opt) {
    for (int i = 1; i < argc; i++) {
        std::string_view a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--unicast")
            opt.unicast = true;
        else if (a == "--interface" && hasValue)
            opt.interface = argv[++i];
        else if (a == "--port" && hasValue)
            opt.port = static_cast<uint16_t>(std::strtoul(argv[++i], nullptr, 10));
        else if (a == "--seconds" && hasValue)
            opt.seconds = std::strtol(argv[++i], nullptr, 10);
        else if (a == "--count" && hasValue)
            opt.count = std::strtol(argv[++i], nullptr, 10);
        else
            return false;
    }
    return opt.port != 0 && opt.seconds > 0 && opt.seconds <= kMaxSeconds && opt.count > 0;
}

}  // namespace

int main(int argc, char **argv) {
    Options opt;
    if (!parse(argc, argv, opt))
        return usage();
    Fd recvSock(socket(AF_INET, SOCK_DGRAM, 0));
    Fd sendSock(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (recvSock.fd < 0 || sendSock.fd < 0 || !onInterface(recvSock.fd, opt.interface) ||
        !onInterface(sendSock.fd, opt.interface)) {
        std::perror("floor_server: socket");
        return 1;
    }
    const sockaddr_in bindAddr = ipv4Address(htonl(INADDR_BROADCAST), opt.port);
    if (bind(recvSock.fd, reinterpret_cast<const sockaddr *>(&bindAddr), sizeof bindAddr) != 0) {
        std::perror("floor_server: bind");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    const sockaddr_in replyTo = ipv4Address(htonl(INADDR_BROADCAST), wire::kReplyPort);
    std::array<uint8_t, wire::kMaxDatagram> request{};
    std::array<uint8_t, kReplyLen> reply{};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(opt.seconds);
    long served = 0;
    while (served < opt.count && std::chrono::steady_clock::now() < deadline) {
        pollfd p{recvSock.fd, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0)
            continue;
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        const ssize_t got = recvfrom(recvSock.fd, request.data(), request.size(), 0,
                                     reinterpret_cast<sockaddr *>(&from), &fromLen);
        if (got <= 0)
            continue;
        wire::message_t hdr =
            wire::decode_header(std::span<const uint8_t>(request).first(static_cast<size_t>(got)));
        hdr.uMsgType = wire::kTypeReply;
        hdr.uStatus = wire::kStatusOk;
        hdr.uRetFlag = wire::kRetFlag;
        hdr.uBodyLen = wire::neighbor::kBodyLen;
        wire::encode_header(hdr, reply);
        const sockaddr_in &to = opt.unicast ? from : replyTo;
        sendto(sendSock.fd, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr *>(&to),
               sizeof to);
        served++;
    }
    std::printf("served %ld\n", served);
    return 0;
}
