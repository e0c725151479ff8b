// announce_load: broadcasts the announcements of many simulated devices on
// one interface, as a segment of access points would, but faster: each
// device (MAC 02:10:00:00:HH:LL, 192.0.2.x/24 reused) announces once per
// round, and the rounds follow each other at --rate datagrams a second.
#include <net/if.h>
#include <sys/socket.h>
#include <time.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <wire.h>

#include "bench_socket.h"

namespace {

constexpr size_t kAnnounceLen = wire::kHeaderLen + wire::announce::kBodyLen;

struct Options {
    const char *interface = "tarnbr0";
    long devices = 1000;
    long rounds = 100;
    long rate = 20000;  // datagrams per second
};

void putText(std::span<uint8_t> body, size_t offset, size_t width, std::string_view text) {
    wire::store_bytes(
        body, offset,
        std::span(reinterpret_cast<const uint8_t *>(text.data()), std::min(text.size(), width)));
}

std::array<uint8_t, kAnnounceLen> announcement(long index) {
    namespace f = wire::announce;
    std::array<uint8_t, kAnnounceLen> d{};
    const auto hi = static_cast<uint8_t>(index >> 8), lo = static_cast<uint8_t>(index & 0xFF);
    wire::message_t h{};
    h.uMsgType = wire::kTypeAnnounce;
    h.uOP_Code = wire::OP_ANNOUNCE;
    const uint8_t mac[6] = {0x02, 0x10, 0, 0, hi, lo};
    const uint8_t ip[4] = {192, 0, 2, static_cast<uint8_t>(10 + index % 200)};
    std::copy(std::begin(mac), std::end(mac), h.ucMac);
    std::copy(std::begin(ip), std::end(ip), h.ucIp);
    h.uBodyLen = f::kBodyLen;
    wire::encode_header(h, d);
    std::span<uint8_t> body = std::span(d).subspan(wire::kHeaderLen);
    putText(body, f::kDeviceType, f::kDeviceTypeLen, "WLAN-EAP");
    putText(body, f::kOpMode, f::kOpModeLen, "AP");
    putText(body, f::kFwVersion, f::kFwVersionLen, "1.0.0");
    wire::store_bytes(body, f::kMac, mac);
    putText(body, f::kHwVersion, f::kHwVersionLen, "A1");
    putText(body, f::kSystemName, f::kSystemNameLen, "load-ap-" + std::to_string(index));
    wire::store_bytes(body, f::kIp, ip);
    putText(body, f::kPortName, f::kPortNameLen, "LAN1");
    return d;
}

bool parse(int argc, char **argv, Options &opt) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string_view a = argv[i];
        const long v = std::strtol(argv[i + 1], nullptr, 10);
        if (a == "--interface")
            opt.interface = argv[i + 1];
        else if (a == "--devices" && v > 0 && v <= 65536)
            opt.devices = v;
        else if (a == "--rounds" && v > 0)
            opt.rounds = v;
        else if (a == "--rate" && v > 0 && v <= 1000000)
            opt.rate = v;
        else
            return false;
    }
    return argc % 2 == 1;
}

}  // namespace

int main(int argc, char **argv) {
    Options opt;
    if (!parse(argc, argv, opt)) {
        std::fprintf(stderr,
                     "usage: announce_load [--interface IF] [--devices N] [--rounds N] "
                     "[--rate PER_SECOND]\n");
        return 2;
    }
    bench::Fd sock(socket(AF_INET, SOCK_DGRAM, 0));
    if (sock.fd < 0 || !bench::onInterface(sock.fd, opt.interface)) {
        std::perror("announce_load: socket");
        return 1;
    }
    std::vector<std::array<uint8_t, kAnnounceLen>> datagrams;
    for (long i = 0; i < opt.devices; i++)
        datagrams.push_back(announcement(i));
    const sockaddr_in to = bench::ipv4Address(htonl(INADDR_BROADCAST), wire::kRequestPort);
    // Paced in 1 ms steps: each step sends what the rate allows so far.
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const long total = opt.devices * opt.rounds;
    long sent = 0, failed = 0;
    for (long step = 1; sent < total; step++) {
        const long due = std::min(total, opt.rate * step / 1000);
        for (; sent < due; sent++) {
            const auto &d = datagrams[static_cast<size_t>(sent % opt.devices)];
            if (sendto(sock.fd, d.data(), d.size(), 0, reinterpret_cast<const sockaddr *>(&to),
                       sizeof to) < 0)
                failed++;
        }
        const long long ns = start.tv_nsec + step * 1'000'000LL;
        const timespec next{start.tv_sec + static_cast<time_t>(ns / 1'000'000'000LL),
                            static_cast<long>(ns % 1'000'000'000LL)};
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    std::printf("sent %ld failed %ld\n", sent - failed, failed);
    return 0;
}
