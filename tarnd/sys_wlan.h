// Wireless accessors: the eight networks of each radio <-> settings.
//
// Radio index 0 is the store radio "wlan1" (2.4 GHz), index 1 is "wlan0"
// (5 GHz). VAP index 0 is a radio's main network, 1..7 its virtual APs.
// Every accessor returns 0; fields are bounded by their span.
#pragma once

#include <cstdint>
#include <span>

int sysGetWlanMode(uint8_t &code, int radio);
int sysGetWlanSsid(std::span<uint8_t> field, int vap, int radio);
int sysGetVapVlanId(std::span<uint8_t> field, int vap, int radio);
int sysGetWlanSecurity(std::span<uint8_t> field, int vap, int radio);
int sysGetWlanKey(std::span<uint8_t> field, int vap, int radio);

int sysSetRadioStatus(uint8_t state, int radio);
int sysSetWlanSsid(std::span<const uint8_t> field, int vap, int radio);
int sysSetVapVlanId(std::span<const uint8_t> field, int vap, int radio);
int sysSetWlanSecurity(std::span<const uint8_t> field, int vap, int radio);
int sysSetWlanKey(std::span<const uint8_t> field, int vap, int radio);
