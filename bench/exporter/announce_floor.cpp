// announce_floor: the least a listener for announcements can do, as the
// yardstick for the exporter: one socket bound to the announcement port on
// one interface (shared, like every listener of the utility's), poll and
// recv for each datagram, nothing else. It counts the datagrams and the
// CPU time it spent from the first one to the last.
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include <wire.h>

#include "bench_socket.h"

namespace {

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char **argv) {
    const char *interface = "tarnbr0";
    int idleMs = 2000;  // ends after this long without a datagram, once one came
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string_view a = argv[i];
        if (a == "--interface")
            interface = argv[i + 1];
        else if (a == "--idle-ms")
            idleMs = std::atoi(argv[i + 1]);
        else
            argc = 0;
    }
    if (argc % 2 != 1 || idleMs <= 0) {
        std::fprintf(stderr, "usage: announce_floor [--interface IF] [--idle-ms MS]\n");
        return 2;
    }
    bench::Fd sock(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const int one = 1;
    const sockaddr_in addr = bench::ipv4Address(htonl(INADDR_ANY), wire::kRequestPort);
    if (sock.fd < 0 || setsockopt(sock.fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        !bench::onInterface(sock.fd, interface) ||
        bind(sock.fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0) {
        std::perror("announce_floor: socket");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    std::array<uint8_t, wire::kMaxDatagram> buf{};
    long received = 0;
    double firstCpu = 0;
    // Waits up to ten minutes for the first datagram.
    for (int wait = 600'000;; wait = idleMs) {
        pollfd p{sock.fd, POLLIN, 0};
        if (poll(&p, 1, wait) <= 0)
            break;
        if (recv(sock.fd, buf.data(), buf.size(), 0) < 0)
            continue;
        if (received++ == 0)
            firstCpu = cpuSeconds();
    }
    std::printf("received %ld cpu_seconds %.6f\n", received, cpuSeconds() - firstCpu);
    return 0;
}
