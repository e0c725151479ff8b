// Placeholder until the handlers are built: no reply.
#include "req_func_vlan_snmp.h"

unsigned funcVLAN_Config(const wire::message_t *, std::span<const uint8_t>, std::span<uint8_t>) { return 0; }
unsigned funcSNMP_Config(const wire::message_t *, std::span<const uint8_t>, std::span<uint8_t>) { return 0; }
