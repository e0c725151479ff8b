// Configuration backup to and restore from a file server.
#pragma once

#include <cstdint>
#include <span>

#include "wire.h"

unsigned funcConfigBackup(const wire::message_t *pMsg, std::span<const uint8_t> body, std::span<uint8_t> pRetMsg);
unsigned funcConfigUpgrade(const wire::message_t *pMsg, std::span<const uint8_t> body, std::span<uint8_t> pRetMsg);
