// Basic info and administrator account handlers.
#pragma once

#include <cstdint>
#include <span>

#include "wire.h"

unsigned funcSetBasicInfo(const wire::message_t *pMsg, std::span<const uint8_t> body, std::span<uint8_t> pRetMsg);
unsigned funcUserVerify(const wire::message_t *pMsg, std::span<const uint8_t> body, std::span<uint8_t> pRetMsg);
unsigned funcChangeAdmin(const wire::message_t *pMsg, std::span<const uint8_t> body, std::span<uint8_t> pRetMsg);

// Puts a backslash before every character of `set` (default: $ " ` \\)
// into the next of a ring of four static 4096-byte buffers.
const char *strEscapeShell(const char *text, const char *set = nullptr);
