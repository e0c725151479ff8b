// The event loop: the daemon's only long-running activity. It sleeps in one
// select() until a datagram arrives or the announcement is due, and serves
// each request completely before it reads the next one.
#include "loop.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/crypto.h>
#include <sys/select.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "auth.h"
#include "capture.h"
#include "daemon_state.h"
#include "debug.h"
#include "handler_table.h"
#include "reply.h"
#include "sys.h"
#include "sys_net.h"

using namespace wire;

namespace {

using Buffer = std::array<uint8_t, kMaxDatagram>;

// Every buffer of a request lives here and is reused for the next one.
Buffer g_receive;  // cleared before each datagram: bodies read zero past its end
Buffer g_reply;
std::array<char, kUserNameLen> g_password;
std::array<uint8_t, kAnnounceLen> g_announcement;

constexpr std::array<uint8_t, 4> kNoIp = {0, 0, 0, 0};

bool bytesEqual(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

// A broadcast request must target every device and ask for an operation
// that finds devices; an addressed one must name this device's MAC and
// address.
bool addressedToUs(const message_t &req,
                   const Operation *op,
                   std::span<const uint8_t, 6> ownMac,
                   std::span<const uint8_t, 4> ownIp) {
    switch (req.uStatus) {
    case kAddrBroadcast:
        return bytesEqual(req.ucMac, kBroadcastMac) && bytesEqual(req.ucIp, kNoIp) &&
               op != nullptr && op->broadcast;
    case kAddrUnicast:
        return bytesEqual(req.ucMac, ownMac) && bytesEqual(req.ucIp, ownIp);
    }
    return false;
}

// The core's own 22-byte replies: the request's header marked as a reply
// with `status` and no body.
void sendCoreReply(const message_t &req, uint16_t status, ReplySink sink) {
    g_reply.fill(0);
    const unsigned len = finishReply(req, g_reply, 0, status);
    sink.send(sink.ctx, std::span<const uint8_t>(g_reply).first(len));
}

void _funcNotSupport(const message_t &req, ReplySink sink) {
    // Printed at every debug level: the utility asked for something this
    // firmware does not have.
    std::printf("pMsg->uOP_Code = %d not support\n", req.uOP_Code);
    dbgPrint("FUNC:%s...\n", __func__);
    dbgPrint("sending func not support...\n");
    sendCoreReply(req, kStatusNotSupported, sink);
}

void _funcAuthFail(const message_t &req, ReplySink sink) {
    dbgPrint("FUNC:%s...\n", __func__);
    sendCoreReply(req, kStatusAuthFailed, sink);
}

// Decodes the credential block into the current user name and the password
// buffer and checks it. The password does not outlive the check.
bool credentialsPass() {
    base64Decode(g_currentUser, load_text(g_receive, kOffCredUser, kCredFieldLen));
    base64Decode(g_password, load_text(g_receive, kOffCredPassword, kCredFieldLen));
    const bool ok = checkCredentials(g_currentUser, g_password.data());
    OPENSSL_cleanse(g_password.data(), g_password.size());
    return ok;
}

// Serves the `len` bytes that lie at the start of the receive buffer.
void serveReceived(size_t len,
                   std::span<const uint8_t, 6> ownMac,
                   std::span<const uint8_t, 4> ownIp,
                   ReplySink sink,
                   unsigned &captureCounter) {
    const std::span<const uint8_t> datagram(g_receive.data(), len);
    const message_t req = decode_header(datagram);

    if (req.uMsgType == kTypeReply) {
        dbgPrint("Get a message. ID=0x%04x\n", static_cast<unsigned>(req.uMsgType));
        captureMessage(CaptureKind::Reply, datagram, captureCounter);
        return;
    }
    if (req.uMsgType != kTypeRequest)
        return;
    dbgPrint("Get a request. ID=0x%04x\n", static_cast<unsigned>(req.uMsgType));
    captureMessage(CaptureKind::Request, datagram, captureCounter);

    const HandlerEntry *entry = findHandler(req.uOP_Code);
    if (!addressedToUs(req, entry != nullptr ? entry->op : nullptr, ownMac, ownIp))
        return;
    if (entry == nullptr) {
        _funcNotSupport(req, sink);
        return;
    }
    dbgPrint("process request 0x%04x begin...\n", static_cast<unsigned>(req.uOP_Code));
    if (entry->op->credentials && !credentialsPass()) {
        _funcAuthFail(req, sink);
        return;
    }

    g_reply.fill(0);
    const size_t bodyOff = entry->op->credentials ? kBodyOffAuth : kBodyOffPlain;
    const unsigned replyLen =
        entry->handler(&req, std::span<const uint8_t>(g_receive).subspan(bodyOff), g_reply);
    if (replyLen == 0)
        return;
    dbgPrint("sending reply(cnt=%d)...\n", static_cast<int>(replyLen));
    sink.send(sink.ctx,
              std::span<const uint8_t>(g_reply).first(std::min<size_t>(replyLen, g_reply.size())));
    // Deferred actions (reboot, resets) happen once the reply has left.
    entry->handler(nullptr, {}, {});
    dbgPrint("done.\n");
}

// ---- Sockets ---------------------------------------------------------------

struct BroadcastTarget {
    int sock;
    sockaddr_in addr;
};

// Send results are not checked: the utility repeats a request that got no
// answer.
void sendBroadcast(void *ctx, std::span<const uint8_t> datagram) {
    const auto *target = static_cast<const BroadcastTarget *>(ctx);
    sendto(target->sock, datagram.data(), datagram.size(), 0,
           reinterpret_cast<const sockaddr *>(&target->addr), sizeof target->addr);
}

// The context of interface `i`, or null when its slot is not set up.
const InterfaceContext *slot(int i) {
    if (i < 0 || i >= g_ifCount || g_ifTable == nullptr)
        return nullptr;
    return g_ifTable[i];
}

bool selectable(int fd) {
    return fd >= 0 && fd < FD_SETSIZE;
}

void sendAnnouncements(int ifCount) {
    for (int i = 0; i < ifCount; i++) {
        const InterfaceContext *ctx = slot(i);
        if (ctx == nullptr)
            continue;
        buildAnnouncement(i, g_announcement);
        BroadcastTarget target{ctx->sendSock, broadcastAddress(kRequestPort)};
        sendBroadcast(&target, g_announcement);
    }
}

int collectReceiveSockets(int ifCount, fd_set &set) {
    FD_ZERO(&set);
    int maxFd = -1;
    for (int i = 0; i < ifCount; i++) {
        const InterfaceContext *ctx = slot(i);
        if (ctx == nullptr || !selectable(ctx->recvSock))
            continue;
        FD_SET(ctx->recvSock, &set);
        maxFd = std::max(maxFd, ctx->recvSock);
    }
    return maxFd;
}

// Takes at most one datagram from each readable interface. A failed or
// empty receive ends the round.
void serveInterfaces(int ifCount, const fd_set &readable, unsigned &captureCounter) {
    for (int i = 0; i < ifCount; i++) {
        g_curIfIndex = i;
        const InterfaceContext *ctx = slot(i);
        if (ctx == nullptr || !selectable(ctx->recvSock) || !FD_ISSET(ctx->recvSock, &readable))
            continue;
        std::array<uint8_t, 6> ownMac{};
        std::array<uint8_t, 4> ownIp{};
        sysGetLanMac(i, ownMac);
        sysGetLanIp(i, ownIp);

        g_receive.fill(0);
        const ssize_t got =
            recvfrom(ctx->recvSock, g_receive.data(), g_receive.size(), 0, nullptr, nullptr);
        if (got <= 0) {
            dbgPrint("process interface %d done.\n", i);
            return;
        }
        BroadcastTarget target{ctx->sendSock, broadcastAddress(kReplyPort)};
        serveReceived(static_cast<size_t>(got), ownMac, ownIp, ReplySink{sendBroadcast, &target},
                      captureCounter);
    }
}

}  // namespace

sockaddr_in broadcastAddress(uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    return addr;
}

void buildAnnouncement(int ifIndex, std::span<uint8_t, kAnnounceLen> out) {
    std::fill(out.begin(), out.end(), uint8_t{0});
    message_t hdr{};
    hdr.uMsgType = kTypeAnnounce;
    hdr.uMsgTag = 0;
    hdr.uOP_Code = OP_ANNOUNCE;
    sysGetLanMac(ifIndex, hdr.ucMac);
    sysGetLanIp(ifIndex, hdr.ucIp);
    hdr.uStatus = 0;
    hdr.uRetFlag = kRetFlag;
    hdr.uBodyLen = announce::kBodyLen;
    encode_header(hdr, out);

    using namespace announce;
    const Bytes body = std::span<uint8_t>(out).subspan(kHeaderLen);
    sysGetDeviceType(field(body, kDeviceType, kDeviceTypeLen));
    sysGetOpMode(field(body, kOpMode, kOpModeLen));
    sysGetFwVersion(field(body, kFwVersion, kFwVersionLen));
    store_bytes(body, kMac, hdr.ucMac);
    sysGetHwVersion(field(body, kHwVersion, kHwVersionLen));
    sysGetEmptyText(field(body, kEmpty, kEmptyLen));
    sysGetSystemName(field(body, kSystemName, kSystemNameLen));
    store_bytes(body, kIp, hdr.ucIp);
    sysGetLanMask(ifIndex, field(body, kMask, 4));
    sysGetLanName(ifIndex, field(body, kPortName, kPortNameLen));
    sysGetIpv6Addr(ifIndex, field(body, kIpv6, 16));
    store_u8(body, kIpv6Prefix, static_cast<uint8_t>(sysGetIpv6PrefixLen(ifIndex)));
}

void serveDatagram(std::span<const uint8_t> datagram,
                   std::span<const uint8_t, 6> ownMac,
                   std::span<const uint8_t, 4> ownIp,
                   ReplySink sink,
                   unsigned &captureCounter) {
    const size_t len = std::min(datagram.size(), g_receive.size());
    g_receive.fill(0);
    std::copy_n(datagram.begin(), len, g_receive.begin());
    serveReceived(len, ownMac, ownIp, sink, captureCounter);
}

void eventLoop() {
    const int ifCount = sysGetIfCount();
    unsigned captureCounter = 0;
    // Time left until the next announcement. select() consumes it, so the
    // period counts only time spent waiting: requests neither restart nor
    // advance it.
    timeval countdown{0, 0};
    for (;;) {
        if (countdown.tv_sec == 0 && countdown.tv_usec == 0) {
            countdown.tv_sec = kAnnouncePeriodSec;
            sendAnnouncements(ifCount);
        }
        fd_set readable;
        const int maxFd = collectReceiveSockets(ifCount, readable);
        const int ready = select(maxFd + 1, &readable, nullptr, nullptr, &countdown);
        if (ready < 0) {
            std::fputs("tarnd: select error.\n", stderr);
            continue;
        }
        if (ready == 0 || ifCount <= 0)
            continue;
        serveInterfaces(ifCount, readable, captureCounter);
    }
}
