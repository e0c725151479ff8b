// Wireless accessors: protocol fields of the multi-SSID messages <-> the
// radio, interface, bss and vap settings of the store.
#include "sys_wlan.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "cfg.h"
#include "security_codes.h"
#include "wire.h"

namespace {

// The handlers address the main network and seven virtual APs per radio.
constexpr int kVapCount = 8;

// The widest wireless field (the SSID); reads and writes of a field go
// through a terminated local copy of at most this many characters.
constexpr size_t kMaxFieldWidth = 32;

// Working buffers; longer store values are cut to them.
constexpr size_t kModeLen = 10;
constexpr size_t kSecurityLen = 16;
constexpr size_t kBssFlagLen = 16;
constexpr size_t kWepNumberLen = 4;
constexpr char kWepKeyPrefix[] = "wep-key-";
constexpr char kWpaKeyName[] = "wpa-personal-key";
// Holds "wpa-personal-key" and the WEP key name for any number that fits
// its buffer, so a cut name never selects another key.
constexpr size_t kKeyNameLen =
    std::max(sizeof kWpaKeyName, sizeof(kWepKeyPrefix) + kWepNumberLen - 1);
using KeyName = std::array<char, kKeyNameLen>;
constexpr size_t kNameLen = 16;  // "wlan1bssvap7" and shorter

// ---- Radio selection -----------------------------------------------------

// The crossing: radio index 0 is the store radio "wlan1", index 1 "wlan0".
constexpr std::array<const char *, 2> kRadioObjects{"wlan1", "wlan0"};

// Radio mode, status, SSID and VLAN id accessors know only these two
// indexes; null for any other.
const char *radioObject(int radio) {
    if (radio < 0 || radio >= static_cast<int>(kRadioObjects.size()))
        return nullptr;
    return kRadioObjects[static_cast<size_t>(radio)];
}

// The store radio number: 1 for index 0, 0 for index 1. The security and
// key accessors also take 0 ("wlan0") for any other index.
int storeRadioNumber(int radio) {
    return radio == 0 ? 1 : 0;
}

bool vapKnown(int vap) {
    return vap >= 0 && vap < kVapCount;
}

// ---- Object names --------------------------------------------------------

struct Name {
    char text[kNameLen];
};

// Network objects of section "interface": "wlan%d" for the main network,
// "wlan%dvap%d" for the virtual APs. `vap` is within 0..7, so names fit.
Name networkName(int w, int vap) {
    Name n{};
    if (vap == 0)
        std::snprintf(n.text, sizeof n.text, "wlan%d", w);
    else
        std::snprintf(n.text, sizeof n.text, "wlan%dvap%d", w, vap);
    return n;
}

// BSS and VAP names carry the VAP index also for the main network.
Name bssName(int w, int vap) {
    Name n{};
    std::snprintf(n.text, sizeof n.text, "wlan%dbssvap%d", w, vap);
    return n;
}

Name vapName(int vap) {
    Name n{};
    std::snprintf(n.text, sizeof n.text, "vap%d", vap);
    return n;
}

// ---- Mode and security words ---------------------------------------------

// Radio modes by radio index: the code is a band indicator, 0 for the
// 2.4 GHz modes of "wlan1", 1 for the 5 GHz modes of "wlan0".
struct ModeCode {
    int radio;
    std::string_view word;
    uint8_t code;
};
constexpr std::array kModeCodes{
    ModeCode{0, "bg", 0}, ModeCode{0, "bg-n", 0}, ModeCode{0, "n-only-g", 0},
    ModeCode{1, "a", 1},  ModeCode{1, "a-n", 1},  ModeCode{1, "n-only-a", 1},
};

// The store's words for the security kinds; the protocol's codes come
// from the shared table of security codes.
using Security = wire::SecurityKind;

struct SecurityWord {
    Security mode;
    const char *word;
};
constexpr std::array kSecurityWords{
    SecurityWord{Security::Open, "plain-text"},
    SecurityWord{Security::StaticWep, "static-wep"},
    SecurityWord{Security::WpaPersonal, "wpa-personal"},
    SecurityWord{Security::WpaEnterprise, "wpa-enterprise"},
};

// Every kind has a word and a code, so the lookups below always find one.
constexpr bool everyModeListed() {
    for (const SecurityWord &w : kSecurityWords) {
        if (std::ranges::find(wire::kSecurityCodes, w.mode, &wire::SecurityCode::kind) ==
            wire::kSecurityCodes.end())
            return false;
    }
    return kSecurityWords.size() == 4;
}
static_assert(everyModeListed());

const char *securityWord(Security mode) {
    const auto *it = std::ranges::find(kSecurityWords, mode, &SecurityWord::mode);
    return it->word;
}

std::optional<Security> securityMode(std::string_view word) {
    const auto *it = std::ranges::find(
        kSecurityWords, word, [](const SecurityWord &w) { return std::string_view(w.word); });
    if (it == kSecurityWords.end())
        return std::nullopt;
    return it->mode;
}

// The code, as its one decimal digit, that the setter would need to
// reproduce `mode` with the given "wpa2-allowed" value: the reverse of the
// setter, so a utility can write back what it read.
std::array<char, 2> securityCode(Security mode, std::string_view wpa2Allowed) {
    const bool wpa2On = wpa2Allowed == "on";
    const auto *it = std::ranges::find_if(wire::kSecurityCodes, [&](const wire::SecurityCode &c) {
        return c.kind == mode && (c.version == wire::WpaVersion::None ||
                                  (c.version == wire::WpaVersion::Wpa2) == wpa2On);
    });
    return {static_cast<char>('0' + it->code), '\0'};
}

// ---- Field copies --------------------------------------------------------

// A request field as terminated text: at most its width, and at most the
// widest field.
struct FieldText {
    char text[kMaxFieldWidth + 1];
};

FieldText fieldText(std::span<const uint8_t> field) {
    FieldText t{};
    wire::load_cstr(field, 0, field.size(), t.text);
    return t;
}

// The capacity that lets a read fill a field exactly: its width plus the
// terminator, bounded by the local copy.
std::span<char> readBuffer(FieldText &t, std::span<uint8_t> field) {
    return std::span<char>(t.text, std::min(field.size(), kMaxFieldWidth) + 1);
}

// Copies a value read from the store into its field; a missing (empty)
// value leaves the field as it was.
void fillField(std::span<uint8_t> field, const FieldText &value) {
    if (value.text[0] == '\0')
        return;
    wire::store_text(field, 0, field.size(), value.text);
}

// The security mode stored for a network, if it is one of the four words.
std::optional<Security> readSecurity(const char *network) {
    char value[kSecurityLen] = {};
    cfgGetObj("interface", network, "security", value);
    return securityMode(value);
}

// The name of the WEP key in use, or nothing when the network names no
// default key.
std::optional<KeyName> wepKeyName(const char *network) {
    char number[kWepNumberLen] = {};
    cfgGetObj("interface", network, "wep-default-key", number);
    if (number[0] == '\0')
        return std::nullopt;
    KeyName name{};
    std::snprintf(name.data(), name.size(), "%s%s", kWepKeyPrefix, number);
    return name;
}

// The "interface" setting that holds the network's key, for the getter and
// the setter alike: the passphrase under WPA personal, the default WEP key
// under static WEP. Nothing for the other modes, for a mode that is not one
// of the four words, and for a WEP network without a default key.
std::optional<KeyName> keySetting(const char *network) {
    std::optional<Security> mode = readSecurity(network);
    if (!mode)
        return std::nullopt;
    switch (*mode) {
    case Security::Open:
    case Security::WpaEnterprise:
        return std::nullopt;
    case Security::WpaPersonal: {
        KeyName name{};
        std::memcpy(name.data(), kWpaKeyName, sizeof kWpaKeyName);
        return name;
    }
    case Security::StaticWep:
        return wepKeyName(network);
    }
    return std::nullopt;
}

// Leading decimal digits; anything else reads as 0.
int parseCode(const char *text) {
    int code = 0;
    std::from_chars(text, text + std::strlen(text), code);
    return code;
}

}  // namespace

// ---- Getters -------------------------------------------------------------

int sysGetWlanMode(uint8_t &code, int radio) {
    const char *object = radioObject(radio);
    if (object == nullptr)
        return 0;
    char value[kModeLen] = {};
    cfgGetObj("radio", object, "mode", value);
    const auto *it = std::ranges::find_if(
        kModeCodes, [&](const ModeCode &m) { return m.radio == radio && m.word == value; });
    if (it != kModeCodes.end())
        code = it->code;
    return 0;
}

int sysGetWlanSsid(std::span<uint8_t> field, int vap, int radio) {
    const char *object = radioObject(radio);
    if (object == nullptr || !vapKnown(vap))
        return 0;
    Name network = networkName(storeRadioNumber(radio), vap);
    FieldText value{};
    cfgGetObj("interface", network.text, "ssid", readBuffer(value, field));
    fillField(field, value);
    return 0;
}

int sysGetVapVlanId(std::span<uint8_t> field, int vap, int radio) {
    const char *object = radioObject(radio);
    if (object == nullptr || !vapKnown(vap))
        return 0;
    FieldText value{};
    cfgGetObjWhere("vap", vapName(vap).text, "vlan-id", "radio", object, readBuffer(value, field));
    fillField(field, value);
    return 0;
}

int sysGetWlanSecurity(std::span<uint8_t> field, int vap, int radio) {
    if (!vapKnown(vap))
        return 0;
    const int w = storeRadioNumber(radio);
    std::optional<Security> mode = readSecurity(networkName(w, vap).text);
    if (!mode)
        return 0;
    char wpa2Allowed[kBssFlagLen] = {};
    switch (*mode) {
    case Security::Open:
    case Security::StaticWep:
        break;
    case Security::WpaPersonal:
    case Security::WpaEnterprise: {
        // Both flags are read; the code depends on WPA2 alone.
        Name bss = bssName(w, vap);
        cfgGetObj("bss", bss.text, "wpa-allowed", wpa2Allowed);
        std::ranges::fill(wpa2Allowed, '\0');
        cfgGetObj("bss", bss.text, "wpa2-allowed", wpa2Allowed);
        break;
    }
    }
    wire::store_text(field, 0, field.size(), securityCode(*mode, wpa2Allowed).data());
    return 0;
}

int sysGetWlanKey(std::span<uint8_t> field, int vap, int radio) {
    if (!vapKnown(vap))
        return 0;
    Name network = networkName(storeRadioNumber(radio), vap);
    const std::optional<KeyName> key = keySetting(network.text);
    if (!key)
        return 0;
    FieldText value{};
    cfgGetObj("interface", network.text, key->data(), readBuffer(value, field));
    fillField(field, value);
    return 0;
}

// ---- Setters -------------------------------------------------------------

int sysSetRadioStatus(uint8_t /*state*/, int radio) {
    // The request's radio state is not consulted: setting the networks of a
    // radio always switches it on.
    const char *object = radioObject(radio);
    if (object == nullptr)
        return 0;
    cfgSetObj("radio", object, "status", "up");
    return 0;
}

int sysSetWlanSsid(std::span<const uint8_t> field, int vap, int radio) {
    const char *object = radioObject(radio);
    FieldText ssid = fieldText(field);
    if (object == nullptr || !vapKnown(vap) || ssid.text[0] == '\0')
        return 0;
    Name network = networkName(storeRadioNumber(radio), vap);
    cfgSetObj("interface", network.text, "ssid", ssid.text);
    return 0;
}

int sysSetVapVlanId(std::span<const uint8_t> field, int vap, int radio) {
    const char *object = radioObject(radio);
    FieldText vlanId = fieldText(field);
    if (object == nullptr || !vapKnown(vap) || vlanId.text[0] == '\0')
        return 0;
    cfgSetObjWhere("vap", vapName(vap).text, "vlan-id", "radio", object, vlanId.text);
    return 0;
}

int sysSetWlanSecurity(std::span<const uint8_t> field, int vap, int radio) {
    FieldText text = fieldText(field);
    if (!vapKnown(vap) || text.text[0] == '\0')
        return 0;
    const wire::SecurityCode *entry = wire::findSecurityCode(parseCode(text.text));
    if (entry == nullptr)
        return 0;
    const int w = storeRadioNumber(radio);
    cfgSetObj("interface", networkName(w, vap).text, "security", securityWord(entry->kind));
    // The BSS flags are written only for the WPA codes.
    switch (entry->version) {
    case wire::WpaVersion::None:
        return 0;
    case wire::WpaVersion::Wpa:
    case wire::WpaVersion::Wpa2: {
        const bool wpa2 = entry->version == wire::WpaVersion::Wpa2;
        Name bss = bssName(w, vap);
        cfgSetObj("bss", bss.text, "wpa-allowed", wpa2 ? "off" : "on");
        cfgSetObj("bss", bss.text, "wpa2-allowed", wpa2 ? "on" : "off");
        return 0;
    }
    }
    return 0;
}

int sysSetWlanKey(std::span<const uint8_t> field, int vap, int radio) {
    if (!vapKnown(vap))
        return 0;
    // The mode is read back from the store, so a key follows a security
    // mode written just before it in the same request. An empty key is
    // written too: it clears the passphrase or WEP key.
    Name network = networkName(storeRadioNumber(radio), vap);
    const std::optional<KeyName> key = keySetting(network.text);
    if (key)
        cfgSetObj("interface", network.text, key->data(), fieldText(field).text);
    return 0;
}
