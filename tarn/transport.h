// UDP on the management segment: the device only hears datagrams sent to
// the limited broadcast address and broadcasts every reply, so the utility
// binds one socket per interface (SO_BINDTODEVICE) to the port it expects
// datagrams on and sends from the same socket.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarn {

using Clock = std::chrono::steady_clock;

// Interfaces that are up and have an IPv4 broadcast address, in the
// order the system lists them.
std::vector<std::string> broadcastInterfaces();
// The interface's first IPv4 address, as text; nothing when it has none.
std::optional<std::string> interfaceIpv4(const std::string &ifname);

class Socket {
public:
    explicit Socket(int fd) : fd_(fd) {}
    Socket(Socket &&other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Socket &operator=(Socket &&) = delete;
    Socket(const Socket &) = delete;
    ~Socket();
    int fd() const { return fd_; }

private:
    int fd_;
};

struct Datagram {
    std::vector<uint8_t> bytes;
    std::string ifname;
    std::array<uint8_t, 4> from{};  // the sender's IPv4 address
    Clock::time_point at;
};

class Transport {
public:
    // Binds `port` on each named interface; throws UsageError with a clear
    // sentence when an interface is unknown or the process lacks the right.
    Transport(const std::vector<std::string> &ifnames, uint16_t port);

    // Sends to 255.255.255.255:port on every interface, or only on `ifname`.
    void broadcast(std::span<const uint8_t> datagram,
                   uint16_t port,
                   const std::string &ifname = {});
    // The next datagram on any interface, or nothing once `deadline` passed.
    std::optional<Datagram> receive(Clock::time_point deadline);

    const std::vector<std::string> &interfaces() const { return names_; }
    // "eth0" or "eth0, eth1" for messages.
    std::string interfaceList() const { return listOf(names_); }
    static std::string listOf(const std::vector<std::string> &names);

private:
    std::vector<std::string> names_;
    std::vector<Socket> sockets_;
};

}  // namespace tarn
