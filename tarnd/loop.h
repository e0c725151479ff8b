// The event loop: periodic announcement, request filtering and dispatch.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <span>

#include "wire.h"

inline constexpr size_t kAnnounceLen = wire::kHeaderLen + wire::announce::kBodyLen;  // 317
inline constexpr int kAnnouncePeriodSec = 30;

// Where the replies to one datagram go. The event loop broadcasts them to
// port 62992 from the interface's send socket; tests and benchmarks record
// them instead.
struct ReplySink {
    void (*send)(void *ctx, std::span<const uint8_t> datagram);
    void *ctx;
};

// The limited broadcast address at `port`: start-up binds the receive
// sockets to it, and announcements and replies are sent to it.
sockaddr_in broadcastAddress(uint16_t port);

// The announcement of interface `ifIndex`: header and body, 317 bytes.
void buildAnnouncement(int ifIndex, std::span<uint8_t, kAnnounceLen> out);

// Serves one received datagram completely, as the loop does for each one:
// capture, addressing rules, table lookup, credential check, the handler's
// two calls and the replies through `sink`. Bytes beyond 4096 are not
// read; the handler sees the body zero-padded to the end of the 4096-byte
// receive buffer. The current interface index must already be set.
void serveDatagram(std::span<const uint8_t> datagram,
                   std::span<const uint8_t, 6> ownMac,
                   std::span<const uint8_t, 4> ownIp,
                   ReplySink sink,
                   unsigned &captureCounter);

// Waits on the receive sockets of the interface table, announces the device
// every 30 seconds of waiting and serves each datagram. Never returns.
[[noreturn]] void eventLoop();
