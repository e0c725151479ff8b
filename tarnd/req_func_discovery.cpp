// Placeholder until the handlers are built: no reply.
#include "req_func_discovery.h"

unsigned funcDiscover(const wire::message_t *, std::span<const uint8_t>, std::span<uint8_t>) { return 0; }
unsigned funcQuerySupportedFunc(const wire::message_t *, std::span<const uint8_t>, std::span<uint8_t>) { return 0; }
unsigned funcQueryNeighbor(const wire::message_t *, std::span<const uint8_t>, std::span<uint8_t>) { return 0; }
