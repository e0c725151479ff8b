// The request and reply bodies that firmware upgrade, configuration backup
// and configuration restore share, and the checks of a start request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "wire.h"

inline constexpr size_t kIpv6TextLen = 46;  // inet_ntop buffer for an IPv6 server
inline constexpr unsigned kTransferReplyLen = wire::kHeaderLen + wire::transfer::kReplyBodyLen;

// Why a start request is refused, in the order the checks run.
enum class TargetCheck { Ok, BadServerType, BadAddrType, BadFileName };

// The server and file of a start request.
struct TransferTarget {
    uint8_t uServerType;
    uint8_t uAddrType;
    char address[kIpv6TextLen];               // server address text, unbracketed
    char fileName[wire::transfer::kFileLen];  // always terminated
};

uint8_t transferSubService(std::span<const uint8_t> body);

// Moves the process into /tmp, where the transfer tools put and find their
// files; a failure is only traced.
void enterTmp();

// Downloads http://SERVER/FILE into the working directory with wget. Each
// try times out after 60 s of silence instead of wget's default of 15
// minutes; wget retries a timed-out try (20 tries by default).
void httpDownload(const char *server, const char *fileName);

// Reads server type, address and file name. The file name is taken only
// when it passes isSafeFileName: it reaches root shell command lines.
TargetCheck parseTransferTarget(std::span<const uint8_t> body, TransferTarget &target);

// The characters of a safe file name: A-Z a-z 0-9 . _ - + ~ /, none of
// which a shell reads as more than part of a word.
bool isSafeNameChar(char c);

// A file name field is safe when it is not empty, ends within its 128
// bytes, uses only A-Z a-z 0-9 . _ - + ~ /, does not begin with "/", "-" or
// "~" and has no ".." component: nothing a shell, a URL or a tool's option parser reads as
// more than a file name below the working directory.
bool isSafeFileName(std::span<const uint8_t> field);

// The reply body of a transfer operation: the first 130 bytes after the
// header. Cleared, with uResult 1, by transferReplyBody.
std::span<uint8_t> transferReplyBody(std::span<uint8_t> pRetMsg);
void setTransferResult(std::span<uint8_t> replyBody, uint8_t result);
// Formats strMessage inside its 128-byte field; a long text is cut.
void setTransferMessage(std::span<uint8_t> replyBody, const char *fmt, ...)
    __attribute__((format(printf, 2, 3)));
// The message of a refused target (check != Ok).
void refuseTarget(std::span<uint8_t> replyBody, TargetCheck check, const TransferTarget &target);

// Echoes the request's sub-service type, fills the reply header and returns
// 152, or 0 when the reply buffer cannot hold the reply.
unsigned finishTransferReply(const wire::message_t &req,
                             std::span<const uint8_t> body,
                             std::span<uint8_t> pRetMsg);
