#include "serving.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "errors.h"
#include "transport.h"

namespace tarn {

std::string resultText(const TransferStatus &st) {
    return st.message.empty() ? "result " + std::to_string(st.result) : st.message;
}

Server serverAddress(const std::string &text) {
    Server s;
    if (std::optional<Ipv4> v4 = parseIpv4(text)) {
        s.v4 = *v4;
        return s;
    }
    if (std::optional<Ipv6> v6 = parseIpv6(text)) {
        s.ipv6 = true;
        s.v6 = *v6;
        return s;
    }
    throw UsageError("the server must be an IPv4 or IPv6 address, not \"" + text + "\".");
}

void checkDeviceFileName(const std::string &name, size_t limit) {
    constexpr std::string_view kPunct = "._-+~/";
    const auto refuse = [&](const std::string &why) {
        throw UsageError("the device refuses the file name \"" + name + "\": " + why + ".");
    };
    if (name.empty())
        throw UsageError("the file name is empty.");
    if (name.size() > limit)
        refuse("it takes at most " + std::to_string(limit) + " characters for this transfer");
    if (name[0] == '/' || name[0] == '-' || name[0] == '~')
        refuse(std::string("it may not begin with ") + name[0]);
    for (const char c : name) {
        const bool letterOrDigit =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!letterOrDigit && kPunct.find(c) == std::string_view::npos)
            refuse("it takes only letters, digits and . _ - + ~ /");
    }
    if (("/" + name + "/").find("/../") != std::string::npos)
        refuse("it may not hold a \"..\" component");
}

std::string backupFileName(const Mac &mac) {
    std::string name = formatMac(mac);
    for (char &c : name)
        c = c == ':' ? '-' : c;
    return name + ".cfg";
}

std::string serveAddress(const Found &device) {
    const std::string &ifname = device.ifname;
    const std::optional<std::string> address = interfaceIpv4(ifname);
    if (!address)
        throw UsageError("the interface " + ifname + " has no IPv4 address to serve the file on.");
    return *address;
}

std::optional<std::string> readWholeFile(const std::filesystem::path &path, uint64_t limit) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string content;
    char buf[64 * 1024];
    int err = 0;
    // Bounded by the limit: every round adds at least one byte or ends.
    while (content.size() <= limit) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            err = n < 0 ? errno : 0;
            break;
        }
        content.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    if (err != 0 || content.size() > limit) {
        errno = err != 0 ? err : EFBIG;
        return std::nullopt;
    }
    return content;
}

std::shared_ptr<const std::string> readServedFile(const std::filesystem::path &path) {
    const uint64_t limit = ServeConfig{}.maxFileSize;
    std::optional<std::string> content = readWholeFile(path, limit);
    if (!content && errno == EFBIG)
        throw UsageError(path.string() + " is larger than the " + std::to_string(limit) +
                         " bytes tarn serves.");
    if (!content)
        throw UsageError("cannot read " + path.string() + ": " + std::strerror(errno) + ".");
    return std::make_shared<const std::string>(std::move(*content));
}

std::optional<TransferEvent> transferEnd(TransferEvents &events,
                                         const std::string &peer,
                                         const std::string &file,
                                         Clock::time_point deadline) {
    // Bounded by the deadline and by the queue: each round takes one event.
    while (std::optional<TransferEvent> e = events.next(deadline))
        if (e->peer == peer && e->file == file && e->state != TransferState::Started)
            return e;
    return std::nullopt;
}

}  // namespace tarn
