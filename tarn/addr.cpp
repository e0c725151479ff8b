#include "addr.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>

namespace tarn {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// inet_pton wants a terminated string; addresses are short.
template <typename Addr>
std::optional<Addr> parseInet(int family, std::string_view text) {
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN)
        return std::nullopt;
    char buf[INET6_ADDRSTRLEN] = {};
    std::copy(text.begin(), text.end(), buf);
    Addr addr{};
    if (inet_pton(family, buf, addr.data()) != 1)
        return std::nullopt;
    return addr;
}

}  // namespace

std::optional<Mac> parseMac(std::string_view text) {
    // Six pairs of hex digits and five separators.
    if (text.size() != 17)
        return std::nullopt;
    Mac mac{};
    const char sep = text[2];
    if (sep != ':' && sep != '-')
        return std::nullopt;
    for (size_t i = 0; i < mac.size(); i++) {
        const size_t at = i * 3;
        if (i > 0 && text[at - 1] != sep)
            return std::nullopt;
        const int hi = hexDigit(text[at]);
        const int lo = hexDigit(text[at + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        mac[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    return mac;
}

std::optional<Ipv4> parseIpv4(std::string_view text) {
    return parseInet<Ipv4>(AF_INET, text);
}

std::optional<Ipv6> parseIpv6(std::string_view text) {
    return parseInet<Ipv6>(AF_INET6, text);
}

std::string formatMac(const Mac &mac) {
    char buf[18];
    std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3],
                  mac[4], mac[5]);
    return buf;
}

std::string formatIpv4(const Ipv4 &ip) {
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, ip.data(), buf, sizeof buf);
    return buf;
}

std::string formatIpv6(const Ipv6 &ip) {
    char buf[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, ip.data(), buf, sizeof buf);
    return buf;
}

bool allZero(std::span<const uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

bool onSubnet(const Ipv4 &ip, const Ipv4 &mask, const Ipv4 &gateway) {
    if (allZero(gateway))
        return true;
    for (size_t i = 0; i < ip.size(); i++)
        if ((ip[i] & mask[i]) != (gateway[i] & mask[i]))
            return false;
    return true;
}

}  // namespace tarn
