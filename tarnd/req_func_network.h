// Dynamic DNS, commit, factory resets and network status handlers.
#pragma once

#include <cstdint>
#include <span>

#include "wire.h"

unsigned funcGetNetAdvSettings(const wire::message_t *pMsg,
                               std::span<const uint8_t> body,
                               std::span<uint8_t> pRetMsg);
unsigned funcSetNetAdvSettings(const wire::message_t *pMsg,
                               std::span<const uint8_t> body,
                               std::span<uint8_t> pRetMsg);
unsigned funcFactoryResetWithoutIP(const wire::message_t *pMsg,
                                   std::span<const uint8_t> body,
                                   std::span<uint8_t> pRetMsg);
unsigned funcFactoryReset(const wire::message_t *pMsg,
                          std::span<const uint8_t> body,
                          std::span<uint8_t> pRetMsg);
unsigned funcCommitSettings(const wire::message_t *pMsg,
                            std::span<const uint8_t> body,
                            std::span<uint8_t> pRetMsg);
unsigned funcQueryNetStatus(const wire::message_t *pMsg,
                            std::span<const uint8_t> body,
                            std::span<uint8_t> pRetMsg);

// Where the reset without IP saves the address to keep: kReservedIpFile
// unless replaced. Fuzzing points it into a temporary folder so that no
// request can write the host's file.
void setReservedIpSaveFile(const char *path);
