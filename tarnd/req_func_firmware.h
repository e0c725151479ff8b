// Firmware upgrade from a TFTP or HTTP server.
#pragma once

#include <cstdint>
#include <span>

#include "wire.h"

unsigned funcFirmwareUpgrade(const wire::message_t *pMsg,
                             std::span<const uint8_t> body,
                             std::span<uint8_t> pRetMsg);
