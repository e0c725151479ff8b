// Settings writes of the device tools, through the settings library.
#pragma once

namespace devstore {

// Writes (section, key) := value; prints the library's error text to
// standard error and returns false when the write is refused.
bool set(const char *section, const char *key, const char *value);

}  // namespace devstore
