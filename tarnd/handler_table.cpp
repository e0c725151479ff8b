// The operation table. Its order is part of the protocol: the
// supported-operations reply lists the codes exactly as they stand here.
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

const HandlerEntry HandlerTable[] = {
    {OP_DISCOVER, 0, funcDiscover},
    {OP_SET_BASIC_INFO, 1, funcSetBasicInfo},
    {OP_USER_VERIFY, 1, funcUserVerify},
    {OP_CHANGE_ADMIN, 1, funcChangeAdmin},
    {OP_QUERY_SUPPORTED, 1, funcQuerySupportedFunc},
    {OP_GET_NET_ADV, 1, funcGetNetAdvSettings},
    {OP_SET_NET_ADV, 1, funcSetNetAdvSettings},
    {OP_FACTORY_RESET_KEEP_IP, 1, funcFactoryResetWithoutIP},
    {OP_FACTORY_RESET, 1, funcFactoryReset},
    {OP_GET_DATETIME, 1, funcGetDateTime},
    {OP_SET_DATETIME, 1, funcSetDateTime},
    {OP_COMMIT, 1, funcCommitSettings},
    {OP_QUERY_NET_STATUS, 1, funcQueryNetStatus},
    {OP_QUERY_NEIGHBOR, 0, funcQueryNeighbor},
    {OP_SET_MULTI_SSID, 1, funcSetMultiSSID_Config},
    {OP_VLAN_CONFIG, 1, funcVLAN_Config},
    {OP_SNMP_CONFIG, 0, funcSNMP_Config},
    {OP_GET_MULTI_SSID, 1, funcGetMultiSSID_Config},
    {OP_FIRMWARE_UPGRADE, 0, funcFirmwareUpgrade},
    {OP_CONFIG_BACKUP, 0, funcConfigBackup},
    {OP_CONFIG_RESTORE, 0, funcConfigUpgrade},
    {OP_REBOOT, 0, funcReboot},
    {0, 0, nullptr},
};

const HandlerEntry *findHandler(uint16_t op) {
    for (const HandlerEntry *e = HandlerTable; e->handler != nullptr; e++) {
        if (e->uOP_Code == op)
            return e;
    }
    return nullptr;
}
