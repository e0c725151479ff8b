// The security codes of a wireless network as the multi-SSID records carry
// them (decimal text "1" to "6"), and the names the utility shows and takes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model.h"

namespace tarn {

struct SecurityMode {
    uint8_t code;
    std::string_view name;  // what --security takes and wlan get shows, unique
    bool keyed;             // the network's key field is its passphrase or WEP key
};

const SecurityMode *securityByCode(unsigned code);
// Takes a name from the table or the code as a decimal digit.
const SecurityMode *securityByName(std::string_view name);
// The entry's security and VLAN id, read whole as decimal text; nothing
// when the text is not a known code or a number.
const SecurityMode *securityOf(const SsidEntry &e);
std::optional<long> vlanOf(const SsidEntry &e);
// "static-wep, wpa-personal, ..." for messages and help.
std::string securityNames();

// Why `key` cannot be the key of a network secured with `mode`, or empty
// when it can: a WEP key has 5 or 13 characters or 10 or 26 hexadecimal
// digits, a WPA passphrase 8 to 63 printable characters, and the device's
// key field holds 16 bytes, which leaves out 26 digits and long passphrases.
std::string keyProblem(const SecurityMode &mode, std::string_view key);
// Whether a network switched from `from` (nullptr: unknown) to the keyed
// `to` needs a new key: an open or enterprise network has none, and a WEP
// key is no WPA passphrase.
bool needsNewKey(const SecurityMode *from, const SecurityMode &to);

}  // namespace tarn
