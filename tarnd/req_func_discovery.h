// Discovery handlers: find the device, list its operations, neighbour query.
#pragma once

#include <cstdint>
#include <span>

#include "wire.h"

unsigned funcDiscover(const wire::message_t *pMsg,
                      std::span<const uint8_t> body,
                      std::span<uint8_t> pRetMsg);
unsigned funcQuerySupportedFunc(const wire::message_t *pMsg,
                                std::span<const uint8_t> body,
                                std::span<uint8_t> pRetMsg);
unsigned funcQueryNeighbor(const wire::message_t *pMsg,
                           std::span<const uint8_t> body,
                           std::span<uint8_t> pRetMsg);
