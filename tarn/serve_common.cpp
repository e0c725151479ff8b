#include "serve_common.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "errors.h"

namespace tarn {

void TransferEvents::post(TransferEvent event) {
    {
        std::lock_guard lock(mutex_);
        if (queue_.size() == kMaxQueued)
            queue_.pop_front();
        queue_.push_back(std::move(event));
    }
    arrived_.notify_all();
}

std::optional<TransferEvent> TransferEvents::next(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_until(lock, deadline, [&] { return !queue_.empty(); }))
        return std::nullopt;
    TransferEvent e = std::move(queue_.front());
    queue_.pop_front();
    return e;
}

namespace {

std::string endpointText(const std::string &address, uint16_t port) {
    return (address.find(':') != std::string::npos ? "[" + address + "]" : address) + ":" +
           std::to_string(port);
}

}  // namespace

int bindServerSocket(int type, const std::string &address, uint16_t port, const char *protocol) {
    sockaddr_storage ss{};
    socklen_t len = 0;
    auto *v4 = reinterpret_cast<sockaddr_in *>(&ss);
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(&ss);
    if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        len = sizeof *v4;
    } else if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        len = sizeof *v6;
    } else {
        throw UsageError("the " + std::string(protocol) +
                         " server needs an IPv4 or IPv6 address, not \"" + address + "\".");
    }
    const int fd = socket(ss.ss_family, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw UsageError("cannot open a socket for the " + std::string(protocol) +
                         " server: " + std::strerror(errno) + ".");
    const int on = 1;
    if (type == SOCK_STREAM)
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, reinterpret_cast<sockaddr *>(&ss), len) == 0)
        return fd;
    const int err = errno;
    close(fd);
    const std::string where = endpointText(address, port);
    const std::string server = "the " + std::string(protocol) + " server cannot listen on " + where;
    switch (err) {
    case EADDRINUSE:
        throw UsageError(server +
                         ": the port is taken by another program; stop it, or let that "
                         "server serve the file and name it with --tftp or --http.");
    case EACCES:
        throw UsageError(server +
                         ": ports below 1024 need root or the CAP_NET_BIND_SERVICE "
                         "capability.");
    case EADDRNOTAVAIL:
        throw UsageError(server + ": " + address + " is not an address of this host.");
    default:
        throw UsageError(server + ": " + std::strerror(err) + ".");
    }
}

uint16_t boundPort(int fd) {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (getsockname(fd, reinterpret_cast<sockaddr *>(&ss), &len) != 0)
        return 0;
    return ntohs(ss.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&ss)->sin6_port
                                          : reinterpret_cast<sockaddr_in *>(&ss)->sin_port);
}

std::string peerText(const void *sockaddr) {
    char buf[INET6_ADDRSTRLEN] = {};
    const auto *sa = static_cast<const sockaddr_storage *>(sockaddr);
    if (sa->ss_family == AF_INET6)
        inet_ntop(AF_INET6, &static_cast<const sockaddr_in6 *>(sockaddr)->sin6_addr, buf,
                  sizeof buf);
    else
        inet_ntop(AF_INET, &static_cast<const sockaddr_in *>(sockaddr)->sin_addr, buf, sizeof buf);
    return buf;
}

}  // namespace tarn
