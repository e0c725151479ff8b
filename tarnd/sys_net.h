// DNS, DHCP and IPv6 accessors of the management interface.
#pragma once

#include <cstdint>
#include <span>

int sysSetDnsViaDhcp(int mode);  // 0 -> "up", 1 -> "down", else nothing
int sysGetDns1(std::span<uint8_t> field);
int sysGetDns2(std::span<uint8_t> field);
int sysSetStaticDns1(std::span<const uint8_t> field);
int sysSetStaticDns2(std::span<const uint8_t> field);

int sysGetDhcpStatus(int index);  // 1 = "up", -1 otherwise
int sysSetDhcpStatus(int index, int enable);
int sysIsLinkLocalIp(int index);

int sysGetIpv6Addr(int index, std::span<uint8_t> field);
int sysGetIpv6PrefixLen(int index);   // 0..255
int sysGetIpv6Autoconfig(int index);  // 1 = "up", 2 otherwise
int sysGetIpv6Gateway(int index, std::span<uint8_t> field);
int sysSetIpv6Autoconfig(int index, int mode);
int sysSetIpv6Addr(int index, std::span<const uint8_t> field);
int sysSetIpv6PrefixLen(int index, int len);
int sysSetIpv6Gateway(int index, std::span<const uint8_t> field);
