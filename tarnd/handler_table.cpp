// The handler of each operation, in the protocol's order.
#include "handler_table.h"

#include "req_func_account.h"
#include "req_func_config.h"
#include "req_func_datetime.h"
#include "req_func_discovery.h"
#include "req_func_firmware.h"
#include "req_func_network.h"
#include "req_func_reboot.h"
#include "req_func_vlan_snmp.h"
#include "req_func_wlan.h"

using namespace wire;

namespace {

constexpr HandlerEntry entry(uint16_t code, RequestHandler handler) {
    return {findOperation(code), handler};
}

}  // namespace

constexpr std::array<HandlerEntry, kOperations.size()> HandlerTable{
    entry(OP_DISCOVER, funcDiscover),
    entry(OP_SET_BASIC_INFO, funcSetBasicInfo),
    entry(OP_USER_VERIFY, funcUserVerify),
    entry(OP_CHANGE_ADMIN, funcChangeAdmin),
    entry(OP_QUERY_SUPPORTED, funcQuerySupportedFunc),
    entry(OP_GET_NET_ADV, funcGetNetAdvSettings),
    entry(OP_SET_NET_ADV, funcSetNetAdvSettings),
    entry(OP_FACTORY_RESET_KEEP_IP, funcFactoryResetWithoutIP),
    entry(OP_FACTORY_RESET, funcFactoryReset),
    entry(OP_GET_DATETIME, funcGetDateTime),
    entry(OP_SET_DATETIME, funcSetDateTime),
    entry(OP_COMMIT, funcCommitSettings),
    entry(OP_QUERY_NET_STATUS, funcQueryNetStatus),
    entry(OP_QUERY_NEIGHBOR, funcQueryNeighbor),
    entry(OP_SET_MULTI_SSID, funcSetMultiSSID_Config),
    entry(OP_VLAN_CONFIG, funcVLAN_Config),
    entry(OP_SNMP_CONFIG, funcSNMP_Config),
    entry(OP_GET_MULTI_SSID, funcGetMultiSSID_Config),
    entry(OP_FIRMWARE_UPGRADE, funcFirmwareUpgrade),
    entry(OP_CONFIG_BACKUP, funcConfigBackup),
    entry(OP_CONFIG_RESTORE, funcConfigUpgrade),
    entry(OP_REBOOT, funcReboot),
};

// The same operations as the protocol's table, in its order.
constexpr bool followsTheProtocol() {
    for (size_t i = 0; i < HandlerTable.size(); i++) {
        if (HandlerTable[i].op != &kOperations[i] || HandlerTable[i].handler == nullptr)
            return false;
    }
    return true;
}
static_assert(followsTheProtocol());

const HandlerEntry *findHandler(uint16_t op) {
    for (const HandlerEntry &e : HandlerTable) {
        if (e.op->code == op)
            return &e;
    }
    return nullptr;
}
