#include "transport.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "errors.h"
#include "wire.h"

namespace tarn {

namespace {

std::string systemError(const std::string &what) {
    return what + ": " + std::strerror(errno) + ".";
}

void setOption(int fd,
               int level,
               int name,
               const void *value,
               socklen_t len,
               const std::string &what) {
    if (setsockopt(fd, level, name, value, len) != 0)
        throw UsageError(systemError(what));
}

Socket openSocket(const std::string &ifname, uint16_t port) {
    if (ifname.empty() || ifname.size() >= IFNAMSIZ || if_nametoindex(ifname.c_str()) == 0)
        throw UsageError("there is no network interface named \"" + ifname + "\".");
    Socket s(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (s.fd() < 0)
        throw UsageError(systemError("cannot open a UDP socket"));
    const int on = 1;
    setOption(s.fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on,
              "cannot share UDP port " + std::to_string(port));
    setOption(s.fd(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on,
              "cannot enable broadcast on " + ifname);
    setOption(s.fd(), SOL_SOCKET, SO_BINDTODEVICE, ifname.c_str(),
              static_cast<socklen_t>(ifname.size() + 1),
              "cannot bind to interface " + ifname + " (this needs root or CAP_NET_RAW)");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(s.fd(), reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0)
        throw UsageError(
            systemError("cannot bind UDP port " + std::to_string(port) + " on " + ifname));
    return s;
}

}  // namespace

Socket::~Socket() {
    if (fd_ >= 0)
        close(fd_);
}

std::vector<std::string> broadcastInterfaces() {
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        throw UsageError(systemError("cannot list the network interfaces"));
    std::vector<std::string> names;
    for (const ifaddrs *ifa = list; ifa != nullptr; ifa = ifa->ifa_next) {
        const bool usable = ifa->ifa_addr != nullptr && ifa->ifa_addr->sa_family == AF_INET &&
                            (ifa->ifa_flags & IFF_UP) && (ifa->ifa_flags & IFF_BROADCAST) &&
                            ifa->ifa_broadaddr != nullptr;
        if (usable && std::find(names.begin(), names.end(), ifa->ifa_name) == names.end())
            names.emplace_back(ifa->ifa_name);
    }
    freeifaddrs(list);
    return names;
}

std::optional<std::string> interfaceIpv4(const std::string &ifname) {
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        throw UsageError(systemError("cannot list the network interfaces"));
    std::optional<std::string> found;
    for (const ifaddrs *ifa = list; ifa != nullptr && !found; ifa = ifa->ifa_next) {
        char text[INET_ADDRSTRLEN];
        if (ifa->ifa_addr != nullptr && ifa->ifa_addr->sa_family == AF_INET &&
            ifname == ifa->ifa_name &&
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(ifa->ifa_addr)->sin_addr,
                      text, sizeof text) != nullptr)
            found = text;
    }
    freeifaddrs(list);
    return found;
}

Transport::Transport(const std::vector<std::string> &ifnames, uint16_t port) : names_(ifnames) {
    if (names_.empty())
        throw UsageError(
            "no network interface is up with an IPv4 broadcast address; name one with -i.");
    for (const std::string &name : names_)
        sockets_.push_back(openSocket(name, port));
}

void Transport::broadcast(std::span<const uint8_t> datagram,
                          uint16_t port,
                          const std::string &ifname) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    for (size_t i = 0; i < sockets_.size(); i++) {
        if (!ifname.empty() && names_[i] != ifname)
            continue;
        const ssize_t n = sendto(sockets_[i].fd(), datagram.data(), datagram.size(), 0,
                                 reinterpret_cast<const sockaddr *>(&to), sizeof to);
        if (n < 0)
            throw NoReplyError(systemError("cannot send on " + names_[i]));
    }
}

std::optional<Datagram> Transport::receive(Clock::time_point deadline) {
    std::vector<pollfd> fds;
    for (const Socket &s : sockets_)
        fds.push_back({s.fd(), POLLIN, 0});
    while (true) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        const int ready = poll(fds.data(), fds.size(), static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            throw NoReplyError(systemError("cannot wait for datagrams"));
        for (size_t i = 0; i < fds.size(); i++) {
            if (!(fds[i].revents & POLLIN))
                continue;
            Datagram d;
            d.bytes.resize(wire::kMaxDatagram);
            sockaddr_in from{};
            socklen_t fromLen = sizeof from;
            const ssize_t n = recvfrom(fds[i].fd, d.bytes.data(), d.bytes.size(), 0,
                                       reinterpret_cast<sockaddr *>(&from), &fromLen);
            if (n < 0)
                continue;
            d.bytes.resize(static_cast<size_t>(n));
            d.ifname = names_[i];
            const uint32_t sender = ntohl(from.sin_addr.s_addr);
            d.from = {static_cast<uint8_t>(sender >> 24), static_cast<uint8_t>(sender >> 16),
                      static_cast<uint8_t>(sender >> 8), static_cast<uint8_t>(sender)};
            d.at = Clock::now();
            return d;
        }
    }
}

std::string Transport::listOf(const std::vector<std::string> &names) {
    std::string out;
    for (const std::string &n : names)
        out += (out.empty() ? "" : ", ") + n;
    return out;
}

}  // namespace tarn
