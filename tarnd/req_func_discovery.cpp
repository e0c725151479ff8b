// Discovery: how a utility that knows nothing about the device finds it and
// learns enough to address it. Every field comes from an accessor; one that
// fails leaves its field zero (the reply buffer arrives cleared) and the
// reply goes out anyway.
#include "req_func_discovery.h"

#include "daemon_state.h"
#include "debug.h"
#include "handler_table.h"
#include "reply.h"
#include "sys.h"
#include "sys_clock.h"
#include "sys_net.h"

using wire::field;

namespace {

void fillDiscoverBody(wire::Bytes body) {
    namespace d = wire::discover;
    const int idx = g_curIfIndex;
    sysGetProductName(field(body, d::kProductName, d::kProductNameLen));
    sysGetDeviceType(field(body, d::kDeviceType, d::kDeviceTypeLen));
    sysGetModel(field(body, d::kModel, d::kModelLen));
    sysGetFwVersion(field(body, d::kFwVersion, d::kFwVersionLen));
    wire::store_le16(body, d::kProtoVersion, d::kProtoVersionValue);
    sysGetEmptyText(field(body, d::kEmpty4, d::kEmpty4Len));
    sysGetLanMac(idx, field(body, d::kMac, 6));
    sysGetSystemName(field(body, d::kSystemName, d::kSystemNameLen));
    sysGetLanIp(idx, field(body, d::kIp, 4));
    wire::store_le16(body, d::kWebPort, d::kWebPortValue);
    wire::store_u8(body, d::kDnsMode, static_cast<uint8_t>(sysGetDnsViaDhcp()));
    sysGetLanMask(idx, field(body, d::kMask, 4));
    sysGetLanGateway(idx, field(body, d::kGateway, 4));
    sysGetDns1(field(body, d::kDns1, 4));
    sysGetDns2(field(body, d::kDns2, 4));
    // DHCP off is reported as the accessor's -1, the byte 0xFF.
    wire::store_u8(body, d::kDhcp, static_cast<uint8_t>(sysGetDhcpStatus(idx)));
    sysGetDatetimeField(field(body, d::kDatetime, d::kDatetimeLen));
    wire::store_u8(body, d::kDaylightSaving, sysGetDaylightSaving());
    sysGetOpMode(field(body, d::kOpMode, d::kOpModeLen));
    sysGetHwVersion(field(body, d::kHwVersion, d::kHwVersionLen));
    sysGetEmptyText(field(body, d::kEmpty32, d::kEmpty32Len));
    sysGetLanName(idx, field(body, d::kPortName, d::kPortNameLen));
    sysGetIpv6Addr(idx, field(body, d::kIpv6, 16));
    wire::store_u8(body, d::kIpv6Prefix, static_cast<uint8_t>(sysGetIpv6PrefixLen(idx)));
    sysGetIpv6Gateway(idx, field(body, d::kIpv6Gateway, 16));
    // The accessor says 2 for "not autoconfigured"; the wire wants 0.
    wire::store_u8(body, d::kIpv6Auto, sysGetIpv6Autoconfig(idx) == 1 ? 1 : 0);
}

void fillNeighborBody(wire::Bytes body) {
    namespace n = wire::neighbor;
    const int idx = g_curIfIndex;
    wire::store_u8(body, n::kOne, 1);
    sysGetDeviceType(field(body, n::kDeviceType, n::kDeviceTypeLen));
    sysGetOpMode(field(body, n::kOpMode, n::kOpModeLen));
    sysGetFwVersion(field(body, n::kFwVersion, n::kFwVersionLen));
    sysGetLanMac(idx, field(body, n::kMac, 6));
    sysGetSystemName(field(body, n::kSystemName, n::kSystemNameLen));
    sysGetLanIp(idx, field(body, n::kIp, 4));
    sysGetLanMask(idx, field(body, n::kMask, 4));
    sysGetIpv6Addr(idx, field(body, n::kIpv6, 16));
    sysGetLanName(idx, field(body, n::kPortName, n::kPortNameLen));
}

}  // namespace

unsigned funcDiscover(const wire::message_t *pMsg,
                      std::span<const uint8_t>,
                      std::span<uint8_t> pRetMsg) {
    dbgPrint("FUNC:%s...\n", __func__);
    if (pMsg == nullptr)
        return 0;
    fillDiscoverBody(replyBody(pRetMsg));
    return finishReplyOwnAddress(*pMsg, pRetMsg, wire::discover::kBodyLen);
}

unsigned funcQuerySupportedFunc(const wire::message_t *pMsg,
                                std::span<const uint8_t>,
                                std::span<uint8_t> pRetMsg) {
    dbgPrint("FUNC:%s...\n", __func__);
    if (pMsg == nullptr)
        return 0;
    wire::Bytes body = replyBody(pRetMsg);
    size_t off = 0;
    for (const HandlerEntry &e : HandlerTable) {
        if (wire::isBasicOperation(e.op->code))
            continue;
        wire::store_le16(body, off, e.op->code);
        off += 2;
    }
    wire::store_le16(body, off, 0);  // ends the list
    off += 2;
    return finishReply(*pMsg, pRetMsg, static_cast<uint16_t>(off));
}

unsigned funcQueryNeighbor(const wire::message_t *pMsg,
                           std::span<const uint8_t>,
                           std::span<uint8_t> pRetMsg) {
    dbgPrint("FUNC:%s...\n", __func__);
    if (pMsg == nullptr)
        return 0;
    fillNeighborBody(replyBody(pRetMsg));
    return finishReplyOwnAddress(*pMsg, pRetMsg, wire::neighbor::kBodyLen);
}
