// Reboot on request, after the reply has left.
#pragma once

#include <cstdint>
#include <span>

#include "wire.h"

unsigned funcReboot(const wire::message_t *pMsg,
                    std::span<const uint8_t> body,
                    std::span<uint8_t> pRetMsg);
