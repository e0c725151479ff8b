// Where the administrator password comes from: never the command line.
#pragma once

#include <string>

#include "codec.h"

namespace tarn {

// The first line of `passwordFile` when one is named, else TARN_PASSWORD,
// else a prompt on the terminal without echo.
Credentials loadCredentials(const std::string &user, const std::string &passwordFile);

// The first line of a file, without its line end.
std::string readSecretFile(const std::string &path);
// Asks on /dev/tty with echo off; throws UsageError when there is no terminal.
std::string promptSecret(const std::string &prompt);
// Refuses a text that a 64-byte Base64 field cannot carry.
void checkCredentialLength(const std::string &what, const std::string &text);

}  // namespace tarn
