// Multi-SSID handlers: the eight networks of a radio in one message.
#pragma once

#include <cstdint>
#include <span>

#include "wire.h"

unsigned funcGetMultiSSID_Config(const wire::message_t *pMsg,
                                 std::span<const uint8_t> body,
                                 std::span<uint8_t> pRetMsg);
unsigned funcSetMultiSSID_Config(const wire::message_t *pMsg,
                                 std::span<const uint8_t> body,
                                 std::span<uint8_t> pRetMsg);
