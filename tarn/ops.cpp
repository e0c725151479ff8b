#include "ops.h"

#include <array>
#include <cstdio>

#include "wire.h"

namespace tarn {

namespace {

using namespace wire;

// The device checks credentials exactly for the operations flagged here;
// the others (SNMP, transfers, reboot) take their body right after the header.
constexpr std::array kOps{
    OpInfo{OP_ANNOUNCE, "announce", "listen", false},
    OpInfo{OP_DISCOVER, "discover", "discover", false},
    OpInfo{OP_SET_BASIC_INFO, "set-basic-info", "set", true},
    OpInfo{OP_USER_VERIFY, "user-verify", "verify", true},
    OpInfo{OP_CHANGE_ADMIN, "change-admin", "passwd", true},
    OpInfo{OP_QUERY_SUPPORTED, "query-supported", "ops", true},
    OpInfo{OP_GET_NET_ADV, "get-net-adv", "ddns get", true},
    OpInfo{OP_SET_NET_ADV, "set-net-adv", "ddns set", true},
    OpInfo{OP_FACTORY_RESET_KEEP_IP, "factory-reset-keep-ip", "factory-reset --keep-ip", true},
    OpInfo{OP_FACTORY_RESET, "factory-reset", "factory-reset", true},
    OpInfo{OP_GET_DATETIME, "get-datetime", "time get", true},
    OpInfo{OP_SET_DATETIME, "set-datetime", "time set", true},
    OpInfo{OP_COMMIT, "commit", "commit", true},
    OpInfo{OP_QUERY_NET_STATUS, "query-net-status", "netstatus", true},
    OpInfo{OP_QUERY_NEIGHBOR, "query-neighbor", "neighbor", false},
    OpInfo{OP_SET_MULTI_SSID, "set-multi-ssid", "wlan set", true},
    OpInfo{OP_VLAN_CONFIG, "vlan-config", "vlan", true},
    OpInfo{OP_SNMP_CONFIG, "snmp-config", "snmp", false},
    OpInfo{OP_GET_MULTI_SSID, "get-multi-ssid", "wlan get", true},
    OpInfo{OP_FIRMWARE_UPGRADE, "firmware-upgrade", "firmware", false},
    OpInfo{OP_CONFIG_BACKUP, "config-backup", "config backup", false},
    OpInfo{OP_CONFIG_RESTORE, "config-restore", "config restore", false},
    OpInfo{OP_REBOOT, "reboot", "reboot", false},
};

}  // namespace

const OpInfo *findOp(uint16_t code) {
    for (const OpInfo &op : kOps)
        if (op.code == code)
            return &op;
    return nullptr;
}

bool carriesCredentials(uint16_t code) {
    const OpInfo *op = findOp(code);
    return op != nullptr && op->credentials;
}

std::string opLabel(uint16_t code) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04X", code);
    const OpInfo *op = findOp(code);
    return op ? std::string(buf) + " (" + std::string(op->name) + ")" : std::string(buf);
}

}  // namespace tarn
