// What the utility knows about each operation code: its name, the tarn
// command that uses it, and whether the request carries a credential block.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarn {

struct OpInfo {
    uint16_t code;
    std::string_view name;     // protocol name, e.g. "config-restore"
    std::string_view command;  // the tarn command that sends it
    bool credentials;
};

// nullptr for a code the utility does not know.
const OpInfo *findOp(uint16_t code);
bool carriesCredentials(uint16_t code);
// "0x00C0 (commit)", or just the code when it is unknown.
std::string opLabel(uint16_t code);

}  // namespace tarn
