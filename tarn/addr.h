// Text forms of the addresses that travel as byte arrays on the wire.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tarn {

using Mac = std::array<uint8_t, 6>;
using Ipv4 = std::array<uint8_t, 4>;
using Ipv6 = std::array<uint8_t, 16>;

// "00:11:22:33:44:55" or with hyphens, either case.
std::optional<Mac> parseMac(std::string_view text);
std::optional<Ipv4> parseIpv4(std::string_view text);
std::optional<Ipv6> parseIpv6(std::string_view text);

std::string formatMac(const Mac &mac);
std::string formatIpv4(const Ipv4 &ip);
std::string formatIpv6(const Ipv6 &ip);

bool allZero(std::span<const uint8_t> bytes);
// Whether the gateway is in the subnet of ip and mask; no gateway (all
// zero) is on every subnet.
bool onSubnet(const Ipv4 &ip, const Ipv4 &mask, const Ipv4 &gateway);

}  // namespace tarn
