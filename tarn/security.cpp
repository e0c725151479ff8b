#include "security.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

#include "security_codes.h"

namespace tarn {

namespace {

// The protocol's codes and names; a WEP or WPA-Personal network has a key.
constexpr auto kModes = [] {
    std::array<SecurityMode, wire::kSecurityCodes.size()> modes{};
    for (size_t i = 0; i < modes.size(); i++) {
        const wire::SecurityCode &c = wire::kSecurityCodes[i];
        modes[i] = {
            c.code, c.name,
            c.kind == wire::SecurityKind::StaticWep || c.kind == wire::SecurityKind::WpaPersonal};
    }
    return modes;
}();

}  // namespace

const SecurityMode *securityByCode(unsigned code) {
    for (const SecurityMode &m : kModes)
        if (m.code == code)
            return &m;
    return nullptr;
}

const SecurityMode *securityByName(std::string_view name) {
    for (const SecurityMode &m : kModes)
        if (m.name == name || (name.size() == 1 && name[0] == static_cast<char>('0' + m.code)))
            return &m;
    return nullptr;
}

std::string securityNames() {
    std::string names;
    for (const SecurityMode &m : kModes)
        names += (names.empty() ? "" : ", ") + std::string(m.name);
    return names;
}

namespace {

constexpr uint8_t kWepCode = 1;
constexpr size_t kKeyField = 16;

bool allOf(std::string_view text, int (*test)(int)) {
    return std::all_of(text.begin(), text.end(),
                       [test](char c) { return test(static_cast<unsigned char>(c)) != 0; });
}

}  // namespace

namespace {

template <typename T>
std::optional<T> wholeNumber(const std::string &text) {
    T n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    return ec == std::errc() && end == text.data() + text.size() ? std::optional<T>(n)
                                                                 : std::nullopt;
}

}  // namespace

const SecurityMode *securityOf(const SsidEntry &e) {
    const std::optional<unsigned> code = wholeNumber<unsigned>(e.security);
    return code ? securityByCode(*code) : nullptr;
}

std::optional<long> vlanOf(const SsidEntry &e) {
    return wholeNumber<long>(e.vlan);
}

std::string keyProblem(const SecurityMode &mode, std::string_view key) {
    const std::string length = std::to_string(key.size());
    if (mode.code == kWepCode) {
        if ((key.size() == 10 && allOf(key, isxdigit)) || key.size() == 5 || key.size() == 13)
            return {};
        return "a WEP key has 5 or 13 characters or 10 hexadecimal digits here (26 digits do not "
               "fit "
               "the device's key field of " +
               std::to_string(kKeyField) + " bytes), not " + length + " characters.";
    }
    if (key.size() < 8 || key.size() > kKeyField)
        return "a WPA passphrase has at least 8 characters and the device's key field holds " +
               std::to_string(kKeyField) + ", so it takes 8 to 16 characters here, not " + length +
               ".";
    if (!allOf(key, isprint))
        return "a WPA passphrase is made of printable ASCII characters only.";
    return {};
}

bool needsNewKey(const SecurityMode *from, const SecurityMode &to) {
    return from == nullptr || !from->keyed || (from->code == kWepCode) != (to.code == kWepCode);
}

}  // namespace tarn
