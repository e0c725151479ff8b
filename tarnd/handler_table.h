// The daemon's handler of each operation. The table follows the protocol's
// table of operations entry for entry, so its order, which the supported-
// operations reply lists, and each operation's rules come from there.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "operations.h"
#include "wire.h"

// First call: (request header, body, reply buffer cleared to zero) -> reply
// length, 0 for none. After the reply has left, the loop calls the handler
// again with a null header and empty spans: deferred actions (reboot,
// resets) happen there, and the handler returns 0.
using RequestHandler = unsigned (*)(const wire::message_t *pMsg,
                                    std::span<const uint8_t> body,
                                    std::span<uint8_t> pRetMsg);

struct HandlerEntry {
    const wire::Operation *op;
    RequestHandler handler;
};

extern const std::array<HandlerEntry, wire::kOperations.size()> HandlerTable;

// The entry for `op`, or null.
const HandlerEntry *findHandler(uint16_t op);
