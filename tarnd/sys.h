// Management interface and identity accessors: protocol fields <-> settings.
//
// The device has one management interface, index 0; accessors that take an
// index fail for any other without touching the store. Fields are windows
// into a request or reply (wire::field), bounded by their span.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

int sysGetIfCount();  // always 1
int sysGetIfName(int index, std::span<char> name);

int sysGetLanMac(int index, std::span<uint8_t> field);
int sysGetLanIp(int index, std::span<uint8_t> field);
int sysGetLanMask(int index, std::span<uint8_t> field);
int sysGetLanGateway(int index, std::span<uint8_t> field);
int sysSetStaticIp(int index, std::span<const uint8_t, 4> addr);
int sysSetStaticMask(int index, std::span<const uint8_t, 4> mask);
int sysSetStaticGateway(int index, std::span<const uint8_t, 4> addr);
int sysGetLanName(int index, std::span<uint8_t> field);

int sysGetProductName(std::span<uint8_t> field);
int sysGetDeviceType(std::span<uint8_t> field);
int sysGetOpMode(std::span<uint8_t> field);
int sysGetHwVersion(std::span<uint8_t> field);
int sysGetEmptyText(std::span<uint8_t> field);
int sysGetFwVersion(std::span<uint8_t> field);
int sysGetSystemName(std::span<uint8_t> field);
int sysGetModel(std::span<uint8_t> field);
int sysSetSystemName(std::string_view name);
int sysGetDnsViaDhcp();  // 0 when "host"/"dns-via-dhcp" is "up", else 1

// IPv4 text form, the one the whole daemon uses: "%u.%u.%u.%u" into
// kIpv4TextLen bytes, and the reverse with every number cut to its low 8
// bits. Stored dotted-decimal values (and the DHCP status) are read into
// buffers of the same size.
inline constexpr size_t kIpv4TextLen = 32;
void sysFormatIpv4(std::span<const uint8_t, 4> addr, std::span<char, kIpv4TextLen> text);
void sysParseIpv4(const char *text, std::span<uint8_t, 4> addr);
// Whether `text` is a dotted-decimal address: four groups of one to three
// digits, each at most 255, dots between and nothing after. Leading zeros
// pass, as the store's accessors read them too.
bool sysIsIpv4Text(std::string_view text);
