// Placeholder until the handlers are built: no reply.
#include "req_func_wlan.h"

unsigned funcGetMultiSSID_Config(const wire::message_t *, std::span<const uint8_t>, std::span<uint8_t>) { return 0; }
unsigned funcSetMultiSSID_Config(const wire::message_t *, std::span<const uint8_t>, std::span<uint8_t>) { return 0; }
