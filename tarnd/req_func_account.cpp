// Placeholder until the handlers are built: no reply.
#include "req_func_account.h"

unsigned funcSetBasicInfo(const wire::message_t *, std::span<const uint8_t>, std::span<uint8_t>) { return 0; }
unsigned funcUserVerify(const wire::message_t *, std::span<const uint8_t>, std::span<uint8_t>) { return 0; }
unsigned funcChangeAdmin(const wire::message_t *, std::span<const uint8_t>, std::span<uint8_t>) { return 0; }
const char *strEscapeShell(const char *text, const char *) { return text; }
