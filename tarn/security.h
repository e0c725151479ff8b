// The security codes of a wireless network as the multi-SSID records carry
// them (decimal text "1" to "6"), and the names the utility shows and takes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarn {

struct SecurityMode {
    uint8_t code;
    std::string_view name;   // what --security takes and wlan get shows, unique
    bool keyed;              // the network's key field is its passphrase or WEP key
};

const SecurityMode *securityByCode(unsigned code);
// Takes a name from the table or the code as a decimal digit.
const SecurityMode *securityByName(std::string_view name);
// "static-wep, wpa-personal, ..." for messages and help.
std::string securityNames();

}  // namespace tarn
