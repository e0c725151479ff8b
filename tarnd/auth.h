// Administrator authentication: the credential block of protected requests.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

inline constexpr size_t kUserNameLen = 1024;
// Decoded user name of the last request that carried credentials.
extern char g_currentUser[kUserNameLen];

// Clears `out`, then decodes the Base64 `text` into it through OpenSSL's
// Base64 filter. A text of more than 1022 characters leaves it empty.
void base64Decode(std::span<char> out, std::string_view text);

// Whether the device's account is "admin" and the password hashes to its
// stored crypt() hash. The user name takes no part.
bool checkCredentials(const char *user, const char *password);
