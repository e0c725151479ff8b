// Management VLAN and SNMP agent handlers.
#include "req_func_vlan_snmp.h"

#include <cstdio>

#include "cfg.h"
#include "dbxmldb.h"
#include "debug.h"
#include "reply.h"
#include "sys_cmd.h"

namespace {

// The request may carry two options; the device supports neither, so a
// request that sets one is refused as a whole.
bool optionSet(std::span<const uint8_t> body) {
    using namespace wire::vlan;
    return wire::load_u8(body, kOpt1Flag) != 0 || wire::load_u8(body, kOpt1Text) != 0 ||
           wire::load_u8(body, kOpt2Flag) != 0 || wire::load_u8(body, kOpt2Text) != 0;
}

void applyVlan(uint32_t vlanId) {
    dbSetI64(1, "/system/lan/vlan_enable");
    dbSetU64(vlanId, "/system/lan/vlan_id");
    sysRunCommand("submit SET_IPADDRESS");
    sysRunCommand("submit COMMIT");
}

// A community field as terminated text, also when it fills all 32 bytes.
struct Community {
    char text[64];
};

Community community(std::span<const uint8_t> body, size_t off) {
    Community c{};
    wire::load_cstr(body, off, wire::snmp::kCommunityLen, c.text);
    return c;
}

}  // namespace

unsigned funcVLAN_Config(const wire::message_t *pMsg,
                         std::span<const uint8_t> body,
                         std::span<uint8_t> pRetMsg) {
    dbgPrint("FUNC:%s...\n", __func__);
    if (pMsg == nullptr)
        return 0;
    uint32_t code = 0;
    if (optionSet(body))
        code = wire::vlan::kResultRefused;
    else
        applyVlan(wire::load_le32(body, wire::vlan::kVlanId));
    return finishResultReply(*pMsg, pRetMsg, code);
}

unsigned funcSNMP_Config(const wire::message_t *pMsg,
                         std::span<const uint8_t> body,
                         std::span<uint8_t> pRetMsg) {
    dbgPrint("FUNC:%s...\n", __func__);
    if (pMsg == nullptr)
        return 0;
    // No credentials protect this request, and every field is written as
    // received: an empty community is stored empty.
    const uint8_t state = wire::load_u8(body, wire::snmp::kState);
    std::printf("uState = %x\n", state);
    cfgSet("snmp", "status", state != 0 ? "up" : "down");

    const Community ro = community(body, wire::snmp::kRoCommunity);
    std::printf("(SNMP read-only community) strName = %s\n", ro.text);
    cfgSet("snmp", "ro-community", ro.text);

    const Community rw = community(body, wire::snmp::kRwCommunity);
    std::printf("(SNMP read-write community) strTemp = %s\n", rw.text);
    cfgSet("snmp", "rw-community", rw.text);

    cfgSaveStartup();
    return finishResultReply(*pMsg, pRetMsg, 0);
}
