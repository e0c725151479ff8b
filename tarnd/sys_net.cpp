// DNS, DHCP and IPv6 accessors of the management interface: fixed-width
// protocol fields <-> the text settings of the store.
#include "sys_net.h"

#include <arpa/inet.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "cfg.h"
#include "debug.h"
#include "sys.h"
#include "wire.h"

namespace {

constexpr size_t kIpv6TextLen = INET6_ADDRSTRLEN;  // 46
constexpr size_t kWordLen = 16;                    // status words, prefix length
constexpr size_t kIpv6Len = 16;

constexpr const char kUp[] = "up";
constexpr const char kDown[] = "down";

// One read into a cleared buffer; a missing value reads as the empty text.
template <size_t N>
std::array<char, N> readSetting(const char *section, const char *key) {
    std::array<char, N> buf{};
    cfgGet(section, key, buf);
    return buf;
}

template <size_t N>
bool isWord(const std::array<char, N> &buf, std::string_view word) {
    return std::string_view(buf.data()) == word;
}

bool autoconfigIs(std::string_view word) {
    return isWord(readSetting<kWordLen>("management", "ipv6-autoconfig-status"), word);
}

int getDns(const char *staticKey, const char *dhcpKey, bool trace, std::span<uint8_t> field) {
    // Static servers when static DNS is selected, the ones in use otherwise.
    const bool useStatic = sysGetDnsViaDhcp() == 1;
    auto text = readSetting<kIpv4TextLen>("host", useStatic ? staticKey : dhcpKey);
    if (text[0] == '\0')
        return -1;
    if (trace)
        dbgPrint("DNS2=%s\n", text.data());
    std::array<uint8_t, 4> addr{};
    sysParseIpv4(text.data(), addr);
    wire::store_bytes(field, 0, addr);
    return 0;
}

int setStaticDns(const char *key, std::span<const uint8_t> field) {
    const auto addr = wire::load_array<4>(field, 0);
    std::array<char, kIpv4TextLen> text{};
    sysFormatIpv4(addr, text);
    cfgSet("host", key, text.data());
    return 0;
}

// The first blank- or line-separated token of `text`.
std::string_view firstToken(std::string_view text) {
    constexpr std::string_view kSeparators = " \n";
    const size_t start = text.find_first_not_of(kSeparators);
    if (start == std::string_view::npos)
        return {};
    text.remove_prefix(start);
    return text.substr(0, text.find_first_of(kSeparators));
}

// Parses an IPv6 text into the field; text inet_pton rejects leaves it as
// it was.
void parseIpv6(std::string_view text, std::span<uint8_t> field) {
    std::array<char, kIpv6TextLen> buf{};
    if (text.size() >= buf.size())
        return;
    std::memcpy(buf.data(), text.data(), text.size());
    std::array<uint8_t, kIpv6Len> addr{};
    if (inet_pton(AF_INET6, buf.data(), addr.data()) == 1)
        wire::store_bytes(field, 0, addr);
}

// Shared by the address and gateway getters: nothing while IPv6 is off,
// else the autoconfigured or the static value.
int getIpv6(const char *autoSection,
            const char *autoKey,
            const char *staticSection,
            const char *staticKey,
            bool tokenise,
            std::span<uint8_t> field) {
    if (!isWord(readSetting<kWordLen>("management", "ipv6-status"), kUp))
        return 0;
    const bool autoconf = autoconfigIs(kUp);
    auto value = autoconf ? readSetting<kIpv6TextLen>(autoSection, autoKey)
                          : readSetting<kIpv6TextLen>(staticSection, staticKey);
    std::string_view text = value.data();
    if (tokenise)
        text = firstToken(text);
    if (text.empty())
        return -1;
    parseIpv6(text, field);
    return 0;
}

// inet_ntop text of the first 16 bytes of `field` (zero where it is short).
std::array<char, kIpv6TextLen> formatIpv6(std::span<const uint8_t> field) {
    const auto addr = wire::load_array<kIpv6Len>(field, 0);
    std::array<char, kIpv6TextLen> text{};
    inet_ntop(AF_INET6, addr.data(), text.data(), text.size());
    return text;
}

// The static IPv6 settings may change only while autoconfiguration is off.
bool staticIpv6Writable() {
    return autoconfigIs(kDown);
}

}  // namespace

int sysSetDnsViaDhcp(int mode) {
    switch (mode) {
    case 0:
        cfgSet("host", "dns-via-dhcp", kUp);
        break;
    case 1:
        cfgSet("host", "dns-via-dhcp", kDown);
        break;
    }
    return 0;
}

int sysGetDns1(std::span<uint8_t> field) {
    return getDns("static-dns-1", "dns-1", false, field);
}

int sysGetDns2(std::span<uint8_t> field) {
    return getDns("static-dns-2", "dns-2", true, field);
}

int sysSetStaticDns1(std::span<const uint8_t> field) {
    return setStaticDns("static-dns-1", field);
}

int sysSetStaticDns2(std::span<const uint8_t> field) {
    return setStaticDns("static-dns-2", field);
}

int sysGetDhcpStatus(int index) {
    if (index != 0)
        return -1;
    return isWord(readSetting<kIpv4TextLen>("management", "dhcp-status"), kUp) ? 1 : -1;
}

int sysSetDhcpStatus(int index, int enable) {
    if (index != 0)
        return -1;
    return cfgSet("management", "dhcp-status", enable != 0 ? kUp : kDown);
}

int sysIsLinkLocalIp(int index) {
    std::array<uint8_t, 4> ip{};
    sysGetLanIp(index, ip);
    return ip[0] == 169 && ip[1] == 254 ? 1 : 0;
}

int sysGetIpv6Addr(int, std::span<uint8_t> field) {
    return getIpv6("management", "autoconfig-ipv6-global-all", "management", "static-ipv6", true,
                   field);
}

int sysGetIpv6Gateway(int, std::span<uint8_t> field) {
    return getIpv6("management", "ipv6-default-gateway", "static-ipv6-route", "gateway", false,
                   field);
}

int sysGetIpv6PrefixLen(int) {
    auto text = readSetting<kWordLen>("management", "static-ipv6-prefix-length");
    // atoi semantics (leading digits, 0 for none), cut to one byte.
    const long value = std::strtol(text.data(), nullptr, 10);
    return static_cast<int>(static_cast<unsigned long>(value) & 0xFFu);
}

int sysGetIpv6Autoconfig(int) {
    return autoconfigIs(kUp) ? 1 : 2;
}

int sysSetIpv6Autoconfig(int, int mode) {
    cfgSet("management", "ipv6-autoconfig-status", mode == 1 ? kUp : kDown);
    return 0;
}

int sysSetIpv6Addr(int, std::span<const uint8_t> field) {
    if (!staticIpv6Writable())
        return -1;
    auto text = formatIpv6(field);
    if (std::string_view(text.data()) == "::")
        return -1;
    cfgSet("management", "static-ipv6", text.data());
    return 0;
}

int sysSetIpv6PrefixLen(int, int len) {
    if (!staticIpv6Writable())
        return -1;
    std::array<char, kWordLen> text{};
    snprintf(text.data(), text.size(), "%d", len);
    cfgSet("management", "static-ipv6-prefix-length", text.data());
    return 0;
}

int sysSetIpv6Gateway(int, std::span<const uint8_t> field) {
    if (!staticIpv6Writable())
        return -1;
    auto text = formatIpv6(field);
    // An all-zero gateway clears the static gateway.
    if (std::string_view(text.data()) == "::")
        text[0] = '\0';
    cfgSet("static-ipv6-route", "gateway", text.data());
    return 0;
}
