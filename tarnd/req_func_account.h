// Basic info and administrator account handlers.
#pragma once

#include <cstdint>
#include <span>

#include "wire.h"

unsigned funcSetBasicInfo(const wire::message_t *pMsg,
                          std::span<const uint8_t> body,
                          std::span<uint8_t> pRetMsg);
unsigned funcUserVerify(const wire::message_t *pMsg,
                        std::span<const uint8_t> body,
                        std::span<uint8_t> pRetMsg);
unsigned funcChangeAdmin(const wire::message_t *pMsg,
                         std::span<const uint8_t> body,
                         std::span<uint8_t> pRetMsg);

// Puts a backslash before every character of `set` (default: $ " ` \\)
// into the next of a ring of four static 4096-byte buffers; a result stays
// valid until four further calls. A text whose escaped form would not fit
// with its terminator is cut before the first character that does not fit
// whole, so a backslash never ends the result. A null text gives "".
const char *strEscapeShell(const char *text, const char *set = nullptr);
