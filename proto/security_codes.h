// The security codes of a wireless network as the multi-SSID records carry
// them: decimal text "1" to "6". WPA and WPA2 share one security setting of
// the device and differ only in which of the two BSS flags is on.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace wire {

enum class SecurityKind : uint8_t { Open, StaticWep, WpaPersonal, WpaEnterprise };
enum class WpaVersion : uint8_t { None, Wpa, Wpa2 };

struct SecurityCode {
    uint8_t code;
    std::string_view name;  // what the utility shows and takes
    SecurityKind kind;
    WpaVersion version;  // which BSS flag is on; None: neither is written
};

inline constexpr std::array kSecurityCodes{
    SecurityCode{1, "static-wep", SecurityKind::StaticWep, WpaVersion::None},
    SecurityCode{2, "wpa-personal", SecurityKind::WpaPersonal, WpaVersion::Wpa},
    SecurityCode{3, "wpa-enterprise", SecurityKind::WpaEnterprise, WpaVersion::Wpa},
    SecurityCode{4, "wpa2-personal", SecurityKind::WpaPersonal, WpaVersion::Wpa2},
    SecurityCode{5, "wpa2-enterprise", SecurityKind::WpaEnterprise, WpaVersion::Wpa2},
    SecurityCode{6, "open", SecurityKind::Open, WpaVersion::None},
};

// The entry for `code`, or null.
constexpr const SecurityCode *findSecurityCode(unsigned code) {
    for (const SecurityCode &c : kSecurityCodes) {
        if (c.code == code)
            return &c;
    }
    return nullptr;
}

}  // namespace wire
