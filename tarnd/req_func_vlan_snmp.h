// Management VLAN and SNMP agent handlers.
#pragma once

#include <cstdint>
#include <span>

#include "wire.h"

unsigned funcVLAN_Config(const wire::message_t *pMsg,
                         std::span<const uint8_t> body,
                         std::span<uint8_t> pRetMsg);
unsigned funcSNMP_Config(const wire::message_t *pMsg,
                         std::span<const uint8_t> body,
                         std::span<uint8_t> pRetMsg);
