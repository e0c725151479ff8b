// Wireless accessors: the eight networks of each radio <-> settings.
//
// Radio index 0 is the store radio "wlan1" (2.4 GHz), index 1 is "wlan0"
// (5 GHz). VAP index 0 is a radio's main network, 1..7 its virtual APs.
// Mode, status, SSID and VLAN id accessors do nothing for another radio
// index; security and key accessors take any other index as "wlan0". A VAP
// index outside 0..7 changes and reads nothing.
//
// Every accessor returns 0. A field is its span: getters fill at most its
// width (a value as long as the field has no terminator; longer values are
// cut; a missing value leaves the field as it was), setters read at most
// its width. The security getter fills the code that the setter would need
// to reproduce the stored mode ("1".."6"), or nothing for an unknown mode.
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
