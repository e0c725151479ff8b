// Multi-SSID handlers: a radio's band and its eight networks (main network
// and seven virtual APs) read or replaced in one message.
#include "req_func_wlan.h"

#include <algorithm>
#include <array>

#include "debug.h"
#include "reply.h"
#include "sys_wlan.h"

namespace ms = wire::multi_ssid;

namespace {

using FieldGetter = int (*)(std::span<uint8_t>, int, int);
using FieldSetter = int (*)(std::span<const uint8_t>, int, int);

// A field is written only when it differs from what a get would report for
// it now. A utility that reads the eight networks and writes them back thus
// changes nothing it did not mean to: a key longer than the 16-byte field
// stays whole, and a network that allows both WPA and WPA2 (reported as
// WPA2) keeps WPA.
void setIfChanged(std::span<const uint8_t> incoming,
                  FieldGetter get,
                  FieldSetter set,
                  int vap,
                  int radio) {
    std::array<uint8_t, ms::kSsidLen> current{};  // the widest field
    const std::span<uint8_t> reported = std::span(current).first(incoming.size());
    get(reported, vap, radio);
    if (wire::load_text(incoming, 0, incoming.size()) ==
        wire::load_text(reported, 0, reported.size()))
        return;
    set(incoming, vap, radio);
}

}  // namespace

unsigned funcGetMultiSSID_Config(const wire::message_t *pMsg,
                                 std::span<const uint8_t> body,
                                 std::span<uint8_t> pRetMsg) {
    dbgPrint("FUNC:%s...\n", __func__);
    if (pMsg == nullptr)
        return 0;
    const int radio = wire::load_u8(body, ms::kRadio);
    std::span<uint8_t> out = wire::field(replyBody(pRetMsg), 0, ms::kReplyBodyLen);

    // Bytes 0 and 1 are reserved and stay zero; a mode the device does not
    // know leaves the band code 0.
    uint8_t mode = 0;
    sysGetWlanMode(mode, radio);
    wire::store_u8(out, ms::kReplyMode, mode);

    for (size_t k = 0; k < ms::kEntryCount; k++) {
        std::span<uint8_t> entry =
            wire::field(out, ms::kReplyEntries + k * ms::kEntryLen, ms::kEntryLen);
        const int vap = static_cast<int>(k);
        sysGetWlanSsid(wire::field(entry, ms::kSsid, ms::kSsidLen), vap, radio);
        sysGetVapVlanId(wire::field(entry, ms::kVlanId, ms::kVlanIdLen), vap, radio);
        sysGetWlanSecurity(wire::field(entry, ms::kSecurity, ms::kSecurityLen), vap, radio);
        sysGetWlanKey(wire::field(entry, ms::kKey, ms::kKeyLen), vap, radio);
    }
    return finishReplyOwnAddress(*pMsg, pRetMsg, ms::kReplyBodyLen);
}

unsigned funcSetMultiSSID_Config(const wire::message_t *pMsg,
                                 std::span<const uint8_t> body,
                                 std::span<uint8_t> pRetMsg) {
    dbgPrint("FUNC:%s...\n", __func__);
    if (pMsg == nullptr)
        return 0;
    const int radio = wire::load_u8(body, ms::kRadio);
    sysSetRadioStatus(wire::load_u8(body, ms::kRadioState), radio);

    for (size_t k = 0; k < ms::kEntryCount; k++) {
        // A copy of the entry: bytes beyond the request read as zero.
        const auto entry =
            wire::load_array<ms::kEntryLen>(body, ms::kSetEntries + k * ms::kEntryLen);
        const std::span<const uint8_t> e(entry);
        const int vap = static_cast<int>(k);
        setIfChanged(e.subspan(ms::kSsid, ms::kSsidLen), sysGetWlanSsid, sysSetWlanSsid, vap,
                     radio);
        setIfChanged(e.subspan(ms::kVlanId, ms::kVlanIdLen), sysGetVapVlanId, sysSetVapVlanId, vap,
                     radio);
        // Security before key: the key is compared with, and written to, the
        // setting of the mode just written.
        setIfChanged(e.subspan(ms::kSecurity, ms::kSecurityLen), sysGetWlanSecurity,
                     sysSetWlanSecurity, vap, radio);
        setIfChanged(e.subspan(ms::kKey, ms::kKeyLen), sysGetWlanKey, sysSetWlanKey, vap, radio);
    }
    // No commit: the settings become permanent with the commit request.
    std::ranges::fill(wire::field(replyBody(pRetMsg), 0, ms::kReplyBodyLen), uint8_t{0});
    return finishReplyOwnAddress(*pMsg, pRetMsg, ms::kReplyBodyLen);
}
