// What the utility knows about each operation: the protocol's table of
// operations, and the tarn command that sends each one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "operations.h"

namespace tarn {

bool carriesCredentials(uint16_t code);
// The tarn command that sends the operation `code`, empty when none does.
std::string_view commandFor(uint16_t code);
// "0x00C0 (commit)", or just the code when it is unknown.
std::string opLabel(uint16_t code);

}  // namespace tarn
