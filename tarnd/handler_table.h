// The table of operations. Its order is part of the protocol: the
// supported-operations reply lists the codes in this order.
#pragma once

#include <cstdint>
#include <span>

#include "wire.h"

// First call: (request header, body, reply buffer cleared to zero) -> reply
// length, 0 for none. After the reply has left, the loop calls the handler
// again with a null header and empty spans: deferred actions (reboot,
// resets) happen there, and the handler returns 0.
using RequestHandler = unsigned (*)(const wire::message_t *pMsg,
                                    std::span<const uint8_t> body,
                                    std::span<uint8_t> pRetMsg);

struct HandlerEntry {
    uint16_t uOP_Code;
    uint8_t auth;  // 1: a credential block precedes the body and must pass
    RequestHandler handler;
};

// Ends with an entry whose handler is null.
extern const HandlerEntry HandlerTable[];

// The entry for `op`, or null.
const HandlerEntry *findHandler(uint16_t op);
