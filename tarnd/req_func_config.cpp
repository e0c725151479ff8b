// Placeholder until the handlers are built: no reply.
#include "req_func_config.h"

unsigned funcConfigBackup(const wire::message_t *, std::span<const uint8_t>, std::span<uint8_t>) { return 0; }
unsigned funcConfigUpgrade(const wire::message_t *, std::span<const uint8_t>, std::span<uint8_t>) { return 0; }
