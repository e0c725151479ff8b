// Where the administrator password comes from: never the command line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "codec.h"

namespace tarn {

// Where a secret comes from, the administrator password's way: the first
// line of a file when one is named, else an environment variable, else a
// prompt on the terminal without echo.
// A secret to be set may also be given on the command line, visible to
// other users in the process list.
struct SecretSource {
    std::string_view what;         // "password", "read-only community", ...
    std::string_view option;       // "--ro"; empty when the command line may not carry it
    std::string_view fileOption;   // "--password-file"
    std::string_view environment;  // "TARN_PASSWORD"; empty when there is none
};
inline constexpr SecretSource kPasswordSource{"password", "", "--password-file", "TARN_PASSWORD"};

// `file` is the value of the source's file option, if given.
std::string readSecret(const SecretSource &source,
                       const std::optional<std::string> &file,
                       const std::string &prompt);
// A secret to be set as given without asking: `given` on the command line,
// else its file, else its environment variable.
std::optional<std::string> givenSecret(const SecretSource &source,
                                       const std::optional<std::string> &given,
                                       const std::optional<std::string> &file);
// A secret to be set: `given` on the command line, else the same ways, but
// the prompt asks twice.
std::string readNewSecret(const SecretSource &source,
                          const std::optional<std::string> &given,
                          const std::optional<std::string> &file);

// The administrator's credentials from kPasswordSource.
Credentials loadCredentials(const std::string &user, const std::string &passwordFile);

// The first line of a file, without its line end; `what` names the file in
// the error ("password" for "cannot read the password file F: reason").
std::string readSecretFile(const std::string &path, std::string_view what = "password");
// Asks on /dev/tty with echo off; throws UsageError naming `source`'s
// other ways when there is no terminal.
std::string promptSecret(const std::string &prompt, const SecretSource &source = kPasswordSource);
// Asks twice; throws UsageError when the answers differ.
std::string promptNewSecret(const SecretSource &source);
// Refuses a text that a 64-byte Base64 field cannot carry.
void checkCredentialLength(const std::string &what, const std::string &text);

}  // namespace tarn
