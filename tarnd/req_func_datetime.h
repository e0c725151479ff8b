// Date and time handlers.
#pragma once

#include <cstdint>
#include <span>

#include "wire.h"

unsigned funcGetDateTime(const wire::message_t *pMsg,
                         std::span<const uint8_t> body,
                         std::span<uint8_t> pRetMsg);
unsigned funcSetDateTime(const wire::message_t *pMsg,
                         std::span<const uint8_t> body,
                         std::span<uint8_t> pRetMsg);
