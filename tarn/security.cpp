#include "security.h"

#include <array>

namespace tarn {

namespace {

// WPA and WPA2 share the device's security setting and differ only in
// which of the two BSS flags is on, hence the pairs of names.
constexpr std::array kModes{
    SecurityMode{1, "static-wep", true},
    SecurityMode{2, "wpa-personal", true},
    SecurityMode{3, "wpa-enterprise", false},
    SecurityMode{4, "wpa2-personal", true},
    SecurityMode{5, "wpa2-enterprise", false},
    SecurityMode{6, "open", false},
};

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

}  // namespace tarn
