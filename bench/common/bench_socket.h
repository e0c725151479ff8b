// Socket set-up shared by the benchmark programs: like tarnd and the
// utility they speak broadcast UDP on one named interface.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace bench {

// Closes the descriptor when the scope ends.
struct Fd {
    int fd;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() {
        if (fd >= 0)
            close(fd);
    }
};

// Broadcast on, and tied to the interface; false when either option fails.
inline bool onInterface(int sock, const char *interface) {
    const int one = 1;
    return setsockopt(sock, SOL_SOCKET, SO_BROADCAST, &one, sizeof one) == 0 &&
           setsockopt(sock, SOL_SOCKET, SO_BINDTODEVICE, interface,
                      static_cast<socklen_t>(std::strlen(interface))) == 0;
}

// `ip` in network byte order, `port` in host order.
inline sockaddr_in ipv4Address(in_addr_t ip, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = ip;
    return a;
}

}  // namespace bench
