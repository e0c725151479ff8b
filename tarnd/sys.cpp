// Management interface and identity accessors: protocol fields <-> settings.
#include "sys.h"

#include "cfg.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kMaxText = 256;  // widest text field the readers serve
using AddrText = std::array<char, kIpv4TextLen>;

// Reads an address setting into a cleared buffer; an empty text means missing.
AddrText readAddress(const char *section, const char *key) {
    AddrText text{};
    cfgGet(section, key, text);
    return text;
}

void clear(std::span<uint8_t> field) {
    std::fill(field.begin(), field.end(), uint8_t{0});
}

// Stores as much of `bytes` as the field holds, from its start.
void storeBytes(std::span<uint8_t> field, std::span<const uint8_t> bytes) {
    std::copy_n(bytes.begin(), std::min(field.size(), bytes.size()), field.begin());
}

// A product constant, with its terminator, bounded by the field; the rest of
// the field is left as the caller handed it over.
int copyConstant(std::span<uint8_t> field, const char *text) {
    const size_t n = std::min(field.size(), std::strlen(text) + 1);
    std::copy_n(text, n, field.begin());
    return 0;
}

// A stored text straight into the field: a value as long as the field fills
// it without a terminator, a shorter one ends with its terminator, a missing
// one leaves the empty text.
void readText(const char *section, const char *key, std::span<uint8_t> field) {
    std::array<char, kMaxText + 1> text{};
    const size_t width = std::min(field.size(), kMaxText);
    cfgGet(section, key, std::span<char>(text.data(), width + 1));
    std::copy_n(text.begin(), std::min(width, std::strlen(text.data()) + 1), field.begin());
}

// Formats the address and writes it; only interface 0 exists.
int writeAddress(int index,
                 const char *section,
                 const char *key,
                 std::span<const uint8_t, 4> addr) {
    if (index != 0) {
        return -1;
    }
    std::array<char, kIpv4TextLen> text;
    sysFormatIpv4(addr, text);
    return cfgSet(section, key, text.data());
}

// The reading pattern shared by the mask and gateway readers: the field is
// left as it was when the setting is missing.
int readAddressInto(int index, const char *section, const char *key, std::span<uint8_t> field) {
    if (index != 0) {
        return -1;
    }
    const AddrText text = readAddress(section, key);
    if (text[0] == '\0') {
        return -1;
    }
    std::array<uint8_t, 4> addr;
    sysParseIpv4(text.data(), addr);
    storeBytes(field, addr);
    return 0;
}

}  // namespace

void sysFormatIpv4(std::span<const uint8_t, 4> addr, std::span<char, kIpv4TextLen> text) {
    std::snprintf(text.data(), text.size(), "%u.%u.%u.%u", addr[0], addr[1], addr[2], addr[3]);
}

void sysParseIpv4(const char *text, std::span<uint8_t, 4> addr) {
    unsigned octet[4] = {0, 0, 0, 0};
    // NOLINTNEXTLINE(cert-err34-c): a partial parse is the defined result, the rest stay 0
    std::sscanf(text, "%u.%u.%u.%u", &octet[0], &octet[1], &octet[2], &octet[3]);
    for (size_t i = 0; i < addr.size(); ++i) {
        addr[i] = static_cast<uint8_t>(octet[i] & 0xFFu);
    }
}

bool sysIsIpv4Text(std::string_view text) {
    size_t pos = 0;
    for (int group = 0; group < 4; ++group) {
        if (group > 0) {
            if (pos >= text.size() || text[pos] != '.')
                return false;
            ++pos;
        }
        unsigned value = 0;
        size_t digits = 0;
        while (pos < text.size() && digits < 4 && text[pos] >= '0' && text[pos] <= '9') {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255)
            return false;
    }
    return pos == text.size();
}

int sysGetIfCount() {
    return 1;
}

int sysGetIfName(int index, std::span<char> name) {
    if (name.empty()) {
        return -1;
    }
    name[0] = '\0';
    if (index != 0) {
        return -1;
    }
    cfgGet("management", "interface", name);
    return name[0] == '\0' ? -1 : 0;
}

int sysGetLanMac(int index, std::span<uint8_t> field) {
    clear(field);
    if (index != 0) {
        return -1;
    }
    const AddrText text = readAddress("management", "mac");
    if (text[0] == '\0') {
        return -1;
    }
    // Group k becomes byte k; groups after the first one that fails stay 0.
    unsigned group[6] = {0, 0, 0, 0, 0, 0};
    // NOLINTNEXTLINE(cert-err34-c): see above, a partial parse is the defined result
    std::sscanf(text.data(), "%02x:%02x:%02x:%02x:%02x:%02x", &group[0], &group[1], &group[2],
                &group[3], &group[4], &group[5]);
    std::array<uint8_t, 6> mac;
    for (size_t i = 0; i < mac.size(); ++i) {
        mac[i] = static_cast<uint8_t>(group[i]);
    }
    storeBytes(field, mac);
    return 0;
}

int sysGetLanIp(int index, std::span<uint8_t> field) {
    clear(field);
    if (index != 0) {
        return -1;
    }
    // A missing address reads as 0.0.0.0, which the cleared field already is.
    const AddrText text = readAddress("management", "ip");
    if (text[0] == '\0') {
        return 0;
    }
    std::array<uint8_t, 4> addr;
    sysParseIpv4(text.data(), addr);
    storeBytes(field, addr);
    return 0;
}

int sysGetLanMask(int index, std::span<uint8_t> field) {
    return readAddressInto(index, "management", "mask", field);
}

int sysGetLanGateway(int index, std::span<uint8_t> field) {
    return readAddressInto(index, "ip-route", "gateway", field);
}

int sysSetStaticIp(int index, std::span<const uint8_t, 4> addr) {
    return writeAddress(index, "management", "static-ip", addr);
}

// The configured static mask lives beside the static gateway.
int sysSetStaticMask(int index, std::span<const uint8_t, 4> mask) {
    return writeAddress(index, "static-ip-route", "mask", mask);
}

int sysSetStaticGateway(int index, std::span<const uint8_t, 4> addr) {
    return writeAddress(index, "static-ip-route", "gateway", addr);
}

int sysGetLanName(int index, std::span<uint8_t> field) {
    clear(field);
    if (index != 0) {
        return -1;
    }
    return copyConstant(field, "LAN1");
}

int sysGetProductName(std::span<uint8_t> field) {
    return copyConstant(field, "Vemira AP");
}

int sysGetDeviceType(std::span<uint8_t> field) {
    return copyConstant(field, "WLAN-EAP");
}

int sysGetOpMode(std::span<uint8_t> field) {
    return copyConstant(field, "AP");
}

int sysGetHwVersion(std::span<uint8_t> field) {
    return copyConstant(field, "A1");
}

int sysGetEmptyText(std::span<uint8_t> field) {
    return copyConstant(field, "");
}

int sysGetFwVersion(std::span<uint8_t> field) {
    readText("system", "version", field);
    return 0;
}

int sysGetSystemName(std::span<uint8_t> field) {
    readText("system", "system-name", field);
    return 0;
}

int sysGetModel(std::span<uint8_t> field) {
    readText("system", "model", field);
    return 0;
}

int sysSetSystemName(std::string_view name) {
    std::array<char, kMaxText + 1> text{};
    std::copy_n(name.begin(), std::min(name.size(), kMaxText), text.begin());
    // A failed write has already been reported by the store layer.
    cfgSet("system", "system-name", text.data());
    return 0;
}

int sysGetDnsViaDhcp() {
    std::array<char, 32> text{};
    cfgGet("host", "dns-via-dhcp", text);
    return std::string_view(text.data()) == "up" ? 0 : 1;
}
