#include "ops.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace tarn {

namespace {

using namespace wire;

struct OpCommand {
    uint16_t code;
    std::string_view command;
};

constexpr std::array kCommands{
    OpCommand{OP_DISCOVER, "discover"},
    OpCommand{OP_SET_BASIC_INFO, "set"},
    OpCommand{OP_USER_VERIFY, "verify"},
    OpCommand{OP_CHANGE_ADMIN, "passwd"},
    OpCommand{OP_QUERY_SUPPORTED, "ops"},
    OpCommand{OP_GET_NET_ADV, "ddns get"},
    OpCommand{OP_SET_NET_ADV, "ddns set"},
    OpCommand{OP_FACTORY_RESET_KEEP_IP, "factory-reset --keep-ip"},
    OpCommand{OP_FACTORY_RESET, "factory-reset"},
    OpCommand{OP_GET_DATETIME, "time get"},
    OpCommand{OP_SET_DATETIME, "time set"},
    OpCommand{OP_COMMIT, "commit"},
    OpCommand{OP_QUERY_NET_STATUS, "netstatus"},
    OpCommand{OP_QUERY_NEIGHBOR, "neighbor"},
    OpCommand{OP_SET_MULTI_SSID, "wlan set"},
    OpCommand{OP_VLAN_CONFIG, "vlan"},
    OpCommand{OP_SNMP_CONFIG, "snmp"},
    OpCommand{OP_GET_MULTI_SSID, "wlan get"},
    OpCommand{OP_FIRMWARE_UPGRADE, "firmware"},
    OpCommand{OP_CONFIG_BACKUP, "config backup"},
    OpCommand{OP_CONFIG_RESTORE, "config restore"},
    OpCommand{OP_REBOOT, "reboot"},
};

// The utility sends every operation of the protocol.
constexpr bool everyOperationHasACommand() {
    for (const Operation &op : kOperations) {
        if (std::ranges::find(kCommands, op.code, &OpCommand::code) == kCommands.end())
            return false;
    }
    return kCommands.size() == kOperations.size();
}
static_assert(everyOperationHasACommand());

}  // namespace

bool carriesCredentials(uint16_t code) {
    const Operation *op = findOperation(code);
    return op != nullptr && op->credentials;
}

std::string_view commandFor(uint16_t code) {
    const auto *it = std::ranges::find(kCommands, code, &OpCommand::code);
    return it == kCommands.end() ? std::string_view() : it->command;
}

std::string opLabel(uint16_t code) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04X", code);
    const Operation *op = findOperation(code);
    return op ? std::string(buf) + " (" + std::string(op->name) + ")" : std::string(buf);
}

}  // namespace tarn
