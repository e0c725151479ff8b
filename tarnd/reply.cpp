// Reply building common to every handler.
#include "reply.h"

#include <algorithm>

#include "daemon_state.h"
#include "sys.h"

using namespace wire;

unsigned finishReply(const message_t &req,
                     std::span<uint8_t> reply,
                     uint16_t bodyLen,
                     uint16_t status) {
    const size_t total = kHeaderLen + bodyLen;
    if (reply.size() < total)
        return 0;
    message_t hdr = req;
    hdr.uMsgType = kTypeReply;
    hdr.uStatus = status;
    hdr.uRetFlag = kRetFlag;
    hdr.uBodyLen = bodyLen;
    encode_header(hdr, reply);
    return static_cast<unsigned>(total);
}

unsigned finishReplyOwnAddress(const message_t &req, std::span<uint8_t> reply, uint16_t bodyLen) {
    message_t own = req;
    // Missing settings leave the fields cleared rather than the request's.
    sysGetLanMac(g_curIfIndex, own.ucMac);
    sysGetLanIp(g_curIfIndex, own.ucIp);
    return finishReply(own, reply, bodyLen);
}

std::span<uint8_t> replyBody(std::span<uint8_t> reply) {
    if (reply.size() <= kHeaderLen)
        return {};
    return reply.subspan(kHeaderLen);
}

unsigned finishResultReply(const message_t &req, std::span<uint8_t> reply, uint32_t code) {
    Bytes f = field(replyBody(reply), result::kCode, result::kBodyLen);
    std::fill(f.begin(), f.end(), uint8_t{0});
    store_le32(f, 0, code);
    return finishReply(req, reply, result::kBodyLen);
}
