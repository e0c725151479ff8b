#include "serve_tftp.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <list>

#include "errors.h"
#include "tftp_packet.h"

namespace tarn {

namespace {

using SteadyClock = std::chrono::steady_clock;
using tftp::ErrorCode;
using tftp::Opcode;

// Each transfer holds a socket and, for an upload, a file; more clients
// than this at once are asked to try again later.
constexpr size_t kMaxTransfers = 16;

struct Transfer {
    int fd = -1;  // our end, connected to the client's transfer port
    bool upload = false;
    std::string file, peer;
    sockaddr_storage from{};  // the client's transfer port
    size_t blockSize = tftp::kDefaultBlockSize;
    std::shared_ptr<const std::string> content;  // a read's file
    uint64_t blocks = 0;                         // a read: blocks sent; an upload: blocks received
    uint64_t bytes = 0;
    bool lastSent = false;  // a read: the short final block is out
    bool done = false;      // an upload: complete, staying to acknowledge a repeated last block
    std::vector<uint8_t> lastPacket;
    SteadyClock::time_point resendAt;
    int tries = 0;
    int out = -1;  // an upload's temporary file
    std::filesystem::path temp, target;
};

class Loop {
public:
    Loop(const ServeConfig &config, TransferEvents &events, int listener, int wake)
        : config_(config),
          events_(events),
          listener_(listener),
          wake_(wake),
          buffer_(tftp::kMaxPacketLen + 1) {}
    ~Loop() {
        for (Transfer &t : transfers_)
            release(t);
    }
    void run();

private:
    void request(const sockaddr_storage &from,
                 socklen_t fromLen,
                 std::span<const uint8_t> datagram);
    bool begin(Transfer &t,
               const tftp::Request &r,
               const sockaddr_storage &from,
               socklen_t fromLen);
    // False when the transfer is over (done, failed or finished lingering).
    bool packet(Transfer &t, std::span<const uint8_t> datagram);
    bool timeout(Transfer &t);
    bool ack(Transfer &t, uint16_t block);
    bool data(Transfer &t, uint16_t block, std::span<const uint8_t> payload);
    void sendBlock(Transfer &t);
    void send(Transfer &t, std::vector<uint8_t> packet);
    bool fail(Transfer &t,
              const std::string &reason,
              std::optional<ErrorCode> code = std::nullopt,
              std::string_view message = {});
    void post(const Transfer &t, TransferState state, std::string reason = {});
    void refuse(const sockaddr_storage &to,
                socklen_t toLen,
                ErrorCode code,
                std::string_view message);
    static void release(Transfer &t);

    const ServeConfig &config_;
    TransferEvents &events_;
    int listener_, wake_;
    std::vector<uint8_t> buffer_;
    std::list<Transfer> transfers_;
};

void Loop::run() {
    std::vector<pollfd> fds;
    for (;;) {
        fds.assign({{wake_, POLLIN, 0}, {listener_, POLLIN, 0}});
        auto soonest = SteadyClock::time_point::max();
        for (const Transfer &t : transfers_) {
            fds.push_back({t.fd, POLLIN, 0});
            soonest = std::min(soonest, t.resendAt);
        }
        int wait = -1;
        if (soonest != SteadyClock::time_point::max()) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(soonest - SteadyClock::now());
            wait = static_cast<int>(std::clamp<int64_t>(left.count(), 0, 60000));
        }
        if (poll(fds.data(), fds.size(), wait) < 0 && errno != EINTR)
            return;
        if (fds[0].revents != 0)
            return;
        size_t i = 2;
        const auto now = SteadyClock::now();
        for (auto it = transfers_.begin(); it != transfers_.end(); i++) {
            bool alive = true;
            if (fds[i].revents != 0) {
                // An error (the client's port unreachable) is read like a
                // packet; left unread it would wake every poll.
                const ssize_t n = recv(it->fd, buffer_.data(), buffer_.size(), 0);
                if (n >= 0)
                    alive = packet(*it, std::span(buffer_.data(), static_cast<size_t>(n)));
                else if (errno != EINTR && errno != EAGAIN)
                    alive = fail(*it, "cannot reach " + it->peer + " during " + it->file + ": " +
                                          std::strerror(errno) + ".");
            } else if (it->resendAt <= now) {
                alive = timeout(*it);
            }
            if (alive) {
                ++it;
            } else {
                release(*it);
                it = transfers_.erase(it);
            }
        }
        // New transfers last: the descriptors polled above are the older ones'.
        if (fds[1].revents & POLLIN) {
            sockaddr_storage from{};
            socklen_t fromLen = sizeof from;
            const ssize_t n = recvfrom(listener_, buffer_.data(), buffer_.size(), 0,
                                       reinterpret_cast<sockaddr *>(&from), &fromLen);
            if (n >= 0)
                request(from, fromLen, std::span(buffer_.data(), static_cast<size_t>(n)));
        }
    }
}

void Loop::refuse(const sockaddr_storage &to,
                  socklen_t toLen,
                  ErrorCode code,
                  std::string_view message) {
    const std::vector<uint8_t> p = tftp::encodeError(code, message);
    sendto(listener_, p.data(), p.size(), 0, reinterpret_cast<const sockaddr *>(&to), toLen);
}

void Loop::request(const sockaddr_storage &from,
                   socklen_t fromLen,
                   std::span<const uint8_t> datagram) {
    // Only a request is answered here: answering anything else, an error
    // packet above all, could start an endless exchange with another server.
    const bool asks = datagram.size() >= 2 && datagram[0] == 0 &&
                      (datagram[1] == static_cast<uint8_t>(Opcode::Rrq) ||
                       datagram[1] == static_cast<uint8_t>(Opcode::Wrq));
    if (!asks)
        return;
    const std::optional<tftp::Packet> p = tftp::parsePacket(datagram);
    if (!p) {
        refuse(from, fromLen, ErrorCode::IllegalOperation, "Illegal TFTP operation");
        return;
    }
    // A request repeated by a client that has not heard our answer yet
    // belongs to the transfer already running.
    const bool running = std::any_of(transfers_.begin(), transfers_.end(), [&](const Transfer &t) {
        return std::memcmp(&t.from, &from, fromLen) == 0;
    });
    if (running)
        return;
    Transfer t;
    t.from = from;
    t.upload = p->opcode == Opcode::Wrq;
    t.file = p->request.file;
    t.peer = peerText(&from);
    const auto refused = [&](ErrorCode code, std::string_view message, const std::string &reason) {
        refuse(from, fromLen, code, message);
        post(t, TransferState::Failed, reason);
    };
    if (p->request.mode != "octet") {
        refused(ErrorCode::NotDefined, "Only octet mode is served",
                t.peer + " asked for " + t.file + " in " + p->request.mode +
                    " mode; only octet (binary) mode is served.");
        return;
    }
    if (transfers_.size() == kMaxTransfers) {
        refused(ErrorCode::NotDefined, "Too many transfers, try again later",
                t.peer + " asked for " + t.file + " while " + std::to_string(kMaxTransfers) +
                    " transfers were running.");
        return;
    }
    if (!t.upload) {
        const auto served = std::find_if(config_.files.begin(), config_.files.end(),
                                         [&](const ServedFile &f) { return f.name == t.file; });
        if (served == config_.files.end()) {
            refused(ErrorCode::FileNotFound, "File not found",
                    t.peer + " asked for " + t.file + ", which is not served.");
            return;
        }
        t.content = served->content;
    } else {
        if (!config_.sender.empty() && t.peer != config_.sender) {
            // Not reported: a stranger could otherwise crowd the command's
            // events out or end its wait with a failure of its making.
            refuse(from, fromLen, ErrorCode::AccessViolation, "Access violation");
            return;
        }
        const bool expected = std::find(config_.receiveNames.begin(), config_.receiveNames.end(),
                                        t.file) != config_.receiveNames.end();
        if (!expected || t.file.find('/') != std::string::npos) {
            refused(ErrorCode::AccessViolation, "Access violation",
                    t.peer + " tried to send " + t.file + ", which is not expected.");
            return;
        }
        if (p->request.transferSize && *p->request.transferSize > config_.maxFileSize) {
            refused(ErrorCode::DiskFull, "File too large",
                    t.peer + " offered " + t.file + " of " +
                        std::to_string(*p->request.transferSize) + " bytes, more than the " +
                        std::to_string(config_.maxFileSize) + " bytes accepted.");
            return;
        }
    }
    transfers_.push_back(std::move(t));
    if (!begin(transfers_.back(), p->request, from, fromLen)) {
        release(transfers_.back());
        transfers_.pop_back();
    }
}

bool Loop::begin(Transfer &t,
                 const tftp::Request &r,
                 const sockaddr_storage &from,
                 socklen_t fromLen) {
    // A new port for the transfer (its transfer ID), connected to the client's.
    try {
        t.fd = bindServerSocket(SOCK_DGRAM, config_.address, 0, "TFTP");
    } catch (const Error &e) {
        refuse(from, fromLen, ErrorCode::NotDefined, "Server error");
        post(t, TransferState::Failed, e.what());
        return false;
    }
    if (connect(t.fd, reinterpret_cast<const sockaddr *>(&from), fromLen) != 0) {
        refuse(from, fromLen, ErrorCode::NotDefined, "Server error");
        post(t, TransferState::Failed,
             "cannot answer " + t.peer + ": " + std::strerror(errno) + ".");
        return false;
    }
    if (t.upload) {
        t.target = config_.receiveDir / t.file;
        // Nothing half-written under the expected name: the file arrives
        // under a temporary name and is renamed once complete.
        std::string temp = (config_.receiveDir / ("." + t.file + ".partial-XXXXXX")).string();
        t.out = mkostemp(temp.data(), O_CLOEXEC);
        if (t.out < 0)
            return fail(t,
                        "cannot create a file in " + config_.receiveDir.string() + ": " +
                            std::strerror(errno) + ".",
                        ErrorCode::AccessViolation, "Cannot create the file");
        t.temp = temp;
    }
    post(t, TransferState::Started);
    if (r.blockSize) {
        t.blockSize = *r.blockSize;
        send(t, tftp::encodeOack(t.blockSize));
    } else if (t.upload) {
        send(t, tftp::encodeAck(0));
    } else {
        sendBlock(t);
    }
    return true;
}

bool Loop::packet(Transfer &t, std::span<const uint8_t> datagram) {
    const std::optional<tftp::Packet> p = tftp::parsePacket(datagram);
    if (!p)
        return fail(t, t.peer + " sent a malformed packet during " + t.file + ".",
                    ErrorCode::IllegalOperation, "Illegal TFTP operation");
    switch (p->opcode) {
    case Opcode::Error:
        return fail(t, t.peer + " ended the transfer of " + t.file + ": \"" + p->message + "\".");
    case Opcode::Ack:
        if (!t.upload)
            return ack(t, p->block);
        break;
    case Opcode::Data:
        if (t.upload)
            return data(t, p->block, p->data);
        break;
    case Opcode::Rrq:
    case Opcode::Wrq:
    case Opcode::Oack:
        break;
    }
    return fail(t, t.peer + " sent an unexpected packet during " + t.file + ".",
                ErrorCode::IllegalOperation, "Illegal TFTP operation");
}

bool Loop::ack(Transfer &t, uint16_t block) {
    // Only the latest block's acknowledgement moves on; answering a repeated
    // one would send every later block twice (the Sorcerer's Apprentice).
    if (block != static_cast<uint16_t>(t.blocks))
        return true;
    if (t.lastSent) {
        t.bytes = t.content->size();
        post(t, TransferState::Complete);
        return false;
    }
    sendBlock(t);
    return true;
}

void Loop::sendBlock(Transfer &t) {
    const uint64_t offset = t.blocks * t.blockSize;
    const size_t n =
        static_cast<size_t>(std::min<uint64_t>(t.blockSize, t.content->size() - offset));
    t.lastSent = n < t.blockSize;
    t.blocks++;
    t.bytes = offset + n;
    t.tries = 0;
    const auto *start = reinterpret_cast<const uint8_t *>(t.content->data()) + offset;
    send(t, tftp::encodeData(static_cast<uint16_t>(t.blocks), std::span(start, n)));
}

bool Loop::data(Transfer &t, uint16_t block, std::span<const uint8_t> payload) {
    if (block == static_cast<uint16_t>(t.blocks)) {
        // Our acknowledgement was lost: repeat it.
        send(t, t.lastPacket);
        return true;
    }
    if (t.done || block != static_cast<uint16_t>(t.blocks + 1))
        return true;
    if (payload.size() > t.blockSize)
        return fail(t, t.peer + " sent a block larger than agreed during " + t.file + ".",
                    ErrorCode::IllegalOperation, "Block too large");
    if (t.bytes + payload.size() > config_.maxFileSize)
        return fail(t,
                    t.file + " from " + t.peer + " exceeds the " +
                        std::to_string(config_.maxFileSize) + " bytes accepted.",
                    ErrorCode::DiskFull, "File too large");
    for (size_t done = 0; done < payload.size();) {
        const ssize_t n = write(t.out, payload.data() + done, payload.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : EIO;
            return fail(t,
                        "cannot write " + t.target.string() + ": " + std::strerror(err) +
                            (err == ENOSPC ? " (the disk is full); nothing was kept."
                                           : "; nothing was kept."),
                        ErrorCode::DiskFull, "Disk full or allocation exceeded");
        }
        done += static_cast<size_t>(n);
    }
    t.blocks++;
    t.bytes += payload.size();
    t.tries = 0;
    if (payload.size() == t.blockSize) {
        send(t, tftp::encodeAck(block));
        return true;
    }
    // The last block: the file is complete once it is on disk and renamed.
    const bool synced = fsync(t.out) == 0;
    const int err = errno;
    const bool closed = close(t.out) == 0;
    t.out = -1;
    if (!synced || !closed)
        return fail(t,
                    "cannot write " + t.target.string() + ": " +
                        std::strerror(synced ? errno : err) + "; nothing was kept.",
                    ErrorCode::DiskFull, "Disk full or allocation exceeded");
    if (rename(t.temp.c_str(), t.target.c_str()) != 0)
        return fail(t,
                    "cannot rename the received file to " + t.target.string() + ": " +
                        std::strerror(errno) + ".",
                    ErrorCode::AccessViolation, "Cannot store the file");
    t.temp.clear();
    t.done = true;
    send(t, tftp::encodeAck(block));
    post(t, TransferState::Complete);
    return true;
}

bool Loop::timeout(Transfer &t) {
    // A finished upload lingers one round to repeat a lost last acknowledgement.
    if (t.done || ++t.tries > config_.retries)
        return t.done ? false
                      : fail(t, t.peer + " stopped answering during " + t.file + " after " +
                                    std::to_string(t.bytes) + " bytes.");
    ::send(t.fd, t.lastPacket.data(), t.lastPacket.size(), 0);
    t.resendAt = SteadyClock::now() + config_.retransmit;
    return true;
}

void Loop::send(Transfer &t, std::vector<uint8_t> packet) {
    t.lastPacket = std::move(packet);
    ::send(t.fd, t.lastPacket.data(), t.lastPacket.size(), 0);
    t.resendAt = SteadyClock::now() + config_.retransmit;
}

bool Loop::fail(Transfer &t,
                const std::string &reason,
                std::optional<ErrorCode> code,
                std::string_view message) {
    if (code) {
        const std::vector<uint8_t> p = tftp::encodeError(*code, message);
        ::send(t.fd, p.data(), p.size(), 0);
    }
    post(t, TransferState::Failed, reason);
    return false;
}

void Loop::post(const Transfer &t, TransferState state, std::string reason) {
    events_.post({state, t.file, t.peer, t.upload, t.bytes, std::move(reason)});
}

void Loop::release(Transfer &t) {
    if (t.out >= 0)
        close(t.out);
    if (!t.temp.empty())
        unlink(t.temp.c_str());
    if (t.fd >= 0)
        close(t.fd);
    t.out = t.fd = -1;
    t.temp.clear();
}

}  // namespace

TftpServer::TftpServer(ServeConfig config) : config_(std::move(config)) {
    socket_ = bindServerSocket(SOCK_DGRAM, config_.address, config_.port, "TFTP");
    port_ = boundPort(socket_);
    if (pipe2(wake_, O_CLOEXEC) != 0) {
        close(socket_);
        throw UsageError(std::string("cannot start the TFTP server: ") + std::strerror(errno) +
                         ".");
    }
    thread_ = std::thread([this] { run(); });
}

TftpServer::~TftpServer() {
    stop();
    close(socket_);
    close(wake_[0]);
    close(wake_[1]);
}

void TftpServer::stop() {
    if (!thread_.joinable())
        return;
    const char byte = 0;
    if (write(wake_[1], &byte, 1) != 1)
        std::perror("tarn: stopping the TFTP server");
    thread_.join();
}

void TftpServer::run() {
    Loop(config_, events_, socket_, wake_[0]).run();
}

}  // namespace tarn
