// The operations of the protocol, in the device's order: the supported-
// operations reply lists their codes in exactly this order, so the order is
// part of the protocol. The daemon takes its credential and broadcast rules
// from here, the utility its names, and the dissector is checked against it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "wire.h"

namespace wire {

struct Operation {
    uint16_t code;
    std::string_view name;
    bool credentials;     // a credential block precedes the body and must pass
    bool broadcast;       // a broadcast request may ask for it
    uint16_t requestLen;  // the body the device reads
    uint16_t replyLen;    // the body of a successful reply
};

// Every device has the first five operations (discover up to the
// supported-operations query): the supported-operations reply leaves them
// out and lists the others, ended by a zero code.
inline constexpr bool isBasicOperation(uint16_t code) {
    return code >= OP_DISCOVER && code <= OP_QUERY_SUPPORTED;
}
inline constexpr uint16_t kSupportedListLen = 36;  // 17 codes and the zero

// A transfer request names an IPv4 server here; one naming an IPv6 server
// has transfer::kBodyLenV6 bytes and a status query only its first byte.
inline constexpr std::array kOperations{
    Operation{OP_DISCOVER, "discover", false, true, 0, discover::kBodyLen},
    Operation{OP_SET_BASIC_INFO, "set-basic-info", true, false, basic_info::kBodyLen,
              result::kBodyLen},
    Operation{OP_USER_VERIFY, "user-verify", true, false, 0, user_verify::kBodyLen},
    Operation{OP_CHANGE_ADMIN, "change-admin", true, false, change_admin::kBodyLen,
              result::kBodyLen},
    Operation{OP_QUERY_SUPPORTED, "query-supported", true, true, 0, kSupportedListLen},
    Operation{OP_GET_NET_ADV, "get-net-adv", true, false, 0, net_adv::kBodyLen},
    Operation{OP_SET_NET_ADV, "set-net-adv", true, false, net_adv::kBodyLen, result::kBodyLen},
    Operation{OP_FACTORY_RESET_KEEP_IP, "factory-reset-keep-ip", true, false, 0, result::kBodyLen},
    Operation{OP_FACTORY_RESET, "factory-reset", true, false, 0, result::kBodyLen},
    Operation{OP_GET_DATETIME, "get-datetime", true, false, 0, datetime::kGetBodyLen},
    Operation{OP_SET_DATETIME, "set-datetime", true, false, datetime::kSetBodyLen,
              result::kBodyLen},
    Operation{OP_COMMIT, "commit", true, false, 0, result::kBodyLen},
    Operation{OP_QUERY_NET_STATUS, "query-net-status", true, false, 0, net_status::kBodyLen},
    Operation{OP_QUERY_NEIGHBOR, "query-neighbor", false, true, 0, neighbor::kBodyLen},
    Operation{OP_SET_MULTI_SSID, "set-multi-ssid", true, false, multi_ssid::kSetBodyLen,
              multi_ssid::kReplyBodyLen},
    Operation{OP_VLAN_CONFIG, "vlan-config", true, false, vlan::kBodyLen, result::kBodyLen},
    Operation{OP_SNMP_CONFIG, "snmp-config", false, false, snmp::kBodyLen, result::kBodyLen},
    Operation{OP_GET_MULTI_SSID, "get-multi-ssid", true, false, 1, multi_ssid::kReplyBodyLen},
    Operation{OP_FIRMWARE_UPGRADE, "firmware-upgrade", false, false, transfer::kBodyLenV4,
              transfer::kReplyBodyLen},
    Operation{OP_CONFIG_BACKUP, "config-backup", false, false, transfer::kBodyLenV4,
              transfer::kReplyBodyLen},
    Operation{OP_CONFIG_RESTORE, "config-restore", false, false, transfer::kBodyLenV4,
              transfer::kReplyBodyLen},
    Operation{OP_REBOOT, "reboot", false, false, 0, result::kBodyLen},
};

// The operation with `code`, or null.
constexpr const Operation *findOperation(uint16_t code) {
    for (const Operation &op : kOperations) {
        if (op.code == code)
            return &op;
    }
    return nullptr;
}

namespace detail {
constexpr size_t supportedListLen() {
    size_t len = 2;  // the terminating zero
    for (const Operation &op : kOperations)
        len += isBasicOperation(op.code) ? 0 : 2;
    return len;
}
}  // namespace detail
static_assert(detail::supportedListLen() == kSupportedListLen);

}  // namespace wire
