#include "transfer.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string_view>

#include "debug.h"
#include "reply.h"
#include "sys.h"
#include "sys_cmd.h"

namespace wt = wire::transfer;

namespace {

bool hasDotDotComponent(std::string_view name) {
    while (!name.empty()) {
        size_t slash = name.find('/');
        if (name.substr(0, slash) == "..") {
            return true;
        }
        if (slash == std::string_view::npos) {
            return false;
        }
        name.remove_prefix(slash + 1);
    }
    return false;
}

// Address text into `out`, within the buffer size each family is given;
// false when the address type is neither IPv4 nor IPv6.
bool addressText(std::span<const uint8_t> body, uint8_t addrType, char (&out)[kIpv6TextLen]) {
    uint8_t raw[16] = {};
    switch (addrType) {
    case wt::kAddrIpv4:
        sysFormatIpv4(wire::load_array<4>(body, wt::kAddr),
                      std::span<char, kIpv4TextLen>(out, kIpv4TextLen));
        return true;
    case wt::kAddrIpv6:
        wire::load_bytes(body, wt::kAddr, std::span<uint8_t>(raw, 16));
        return inet_ntop(AF_INET6, raw, out, kIpv6TextLen) != nullptr;
    default:
        return false;
    }
}

}  // namespace

bool isSafeNameChar(char c) {
    constexpr std::string_view kPunct = "._-+~/";
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           kPunct.find(c) != std::string_view::npos;
}

uint8_t transferSubService(std::span<const uint8_t> body) {
    return wire::load_u8(body, wt::kSubService);
}

void enterTmp() {
    if (chdir("/tmp") != 0) {
        dbgPrint("chdir /tmp failed\n");
    }
}

void httpDownload(const char *server, const char *fileName) {
    sysRunCommand("/usr/bin/wget -T 60 http://%s/%s", server, fileName);
}

bool isSafeFileName(std::span<const uint8_t> field) {
    field = field.first(std::min(field.size(), wt::kFileLen));
    const auto nul = std::find(field.begin(), field.end(), uint8_t{0});
    if (nul == field.end()) {
        return false;
    }
    const std::string_view name(reinterpret_cast<const char *>(field.data()),
                                static_cast<size_t>(nul - field.begin()));
    // An empty name would vanish from the command line and shift the
    // tool's arguments: "tftp -g ADDR -l  -r " makes "-r" the local name.
    if (name.empty()) {
        return false;
    }
    // A leading "~" would be expanded by the shell into a home folder.
    if (name.starts_with('/') || name.starts_with('-') || name.starts_with('~')) {
        return false;
    }
    return std::all_of(name.begin(), name.end(), isSafeNameChar) && !hasDotDotComponent(name);
}

TargetCheck parseTransferTarget(std::span<const uint8_t> body, TransferTarget &target) {
    target = TransferTarget{};
    target.uServerType = wire::load_u8(body, wt::kServerType);
    target.uAddrType = wire::load_u8(body, wt::kAddrType);
    if (target.uServerType != wt::kServerTftp && target.uServerType != wt::kServerHttp) {
        return TargetCheck::BadServerType;
    }
    if (!addressText(body, target.uAddrType, target.address)) {
        return TargetCheck::BadAddrType;
    }
    const size_t nameOff = target.uAddrType == wt::kAddrIpv4 ? wt::kFileV4 : wt::kFileV6;
    uint8_t field[wt::kFileLen] = {};
    wire::load_bytes(body, nameOff, field);
    if (!isSafeFileName(field)) {
        return TargetCheck::BadFileName;
    }
    const std::string_view name = wire::load_text(field, 0, wt::kFileLen);
    std::copy(name.begin(), name.end(), target.fileName);
    return TargetCheck::Ok;
}

std::span<uint8_t> transferReplyBody(std::span<uint8_t> pRetMsg) {
    std::span<uint8_t> body = wire::field(pRetMsg, wire::kHeaderLen, wt::kReplyBodyLen);
    std::fill(body.begin(), body.end(), uint8_t{0});
    setTransferResult(body, 1);
    return body;
}

void setTransferResult(std::span<uint8_t> replyBody, uint8_t result) {
    wire::store_u8(replyBody, wt::kReplyResult, result);
}

void setTransferMessage(std::span<uint8_t> replyBody, const char *fmt, ...) {
    std::span<uint8_t> msg = wire::field(replyBody, wt::kReplyMessage, wt::kReplyMessageLen);
    if (msg.empty()) {
        return;
    }
    va_list ap;
    va_start(ap, fmt);
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): va_start is the line above; clang 14
    // loses it
    vsnprintf(reinterpret_cast<char *>(msg.data()), msg.size(), fmt, ap);
    va_end(ap);
}

void refuseTarget(std::span<uint8_t> replyBody, TargetCheck check, const TransferTarget &target) {
    switch (check) {
    case TargetCheck::Ok:
        return;
    case TargetCheck::BadServerType:
        setTransferMessage(replyBody, "Invalid server type %u", target.uServerType);
        return;
    case TargetCheck::BadAddrType:
        setTransferMessage(replyBody, "Invalid server IP address type %u", target.uAddrType);
        return;
    case TargetCheck::BadFileName:
        setTransferMessage(replyBody, "Invalid file name");
        return;
    }
}

unsigned finishTransferReply(const wire::message_t &req,
                             std::span<const uint8_t> body,
                             std::span<uint8_t> pRetMsg) {
    std::span<uint8_t> reply = wire::field(pRetMsg, wire::kHeaderLen, wt::kReplyBodyLen);
    wire::store_u8(reply, wt::kSubService, transferSubService(body));
    return finishReply(req, pRetMsg, static_cast<uint16_t>(wt::kReplyBodyLen));
}
