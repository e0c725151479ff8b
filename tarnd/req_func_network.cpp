// Placeholder until the handlers are built: no reply.
#include "req_func_network.h"

unsigned funcGetNetAdvSettings(const wire::message_t *, std::span<const uint8_t>, std::span<uint8_t>) { return 0; }
unsigned funcSetNetAdvSettings(const wire::message_t *, std::span<const uint8_t>, std::span<uint8_t>) { return 0; }
unsigned funcFactoryResetWithoutIP(const wire::message_t *, std::span<const uint8_t>, std::span<uint8_t>) { return 0; }
unsigned funcFactoryReset(const wire::message_t *, std::span<const uint8_t>, std::span<uint8_t>) { return 0; }
unsigned funcCommitSettings(const wire::message_t *, std::span<const uint8_t>, std::span<uint8_t>) { return 0; }
unsigned funcQueryNetStatus(const wire::message_t *, std::span<const uint8_t>, std::span<uint8_t>) { return 0; }
