// Reply building common to every handler.
#pragma once

#include <cstdint>
#include <span>

#include "wire.h"

// Copies the request header into `reply`, marks it as a reply (type 0xFEEE,
// `status`, flag 2) with `bodyLen`, and returns 22 + bodyLen. Returns 0 (no
// reply) when `reply` cannot hold it, which the event loop's 4096-byte
// buffer never causes. Handlers answer with status 0; the event loop's own
// refusals (not supported, authentication failed) pass theirs.
unsigned finishReply(const wire::message_t &req,
                     std::span<uint8_t> reply,
                     uint16_t bodyLen,
                     uint16_t status = wire::kStatusOk);
// The same, with the device's own management MAC and IPv4 address in the
// header instead of the request's.
unsigned finishReplyOwnAddress(const wire::message_t &req,
                               std::span<uint8_t> reply,
                               uint16_t bodyLen);
// The body of a reply buffer: everything after the header.
std::span<uint8_t> replyBody(std::span<uint8_t> reply);
// A reply whose body is a ResultBody (32-bit little-endian code, then 12
// zero bytes): writes it and finishes the reply as finishReply does.
unsigned finishResultReply(const wire::message_t &req, std::span<uint8_t> reply, uint32_t code);
