// Every command line the daemon may run while serving a request, with the
// arguments marked by their kind. Anything else reaching the shell is a
// finding: a request must never be able to compose its own command.
#include "command_rules.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <string>

namespace {

// Placeholder bytes inside the templates below.
constexpr char kFile = '\x01';      // a file name of the request
constexpr char kAddress = '\x02';   // a server address, as inet_ntop writes it
constexpr char kPassword = '\x03';  // the escaped password between single quotes

// The daemon's documented command lines, whole: a command line too long for
// its buffer is refused, and the file names of the tools formatted into 128
// bytes are short enough for them. The shell utilities of start-up (mkdir,
// rm, date) never run on behalf of a request.
constexpr std::array<std::string_view, 15> kTemplates = {{
    "submit SET_PASSWD 'admin' '\x03'",
    "submit SET_IPADDRESS",
    "submit COMMIT",
    "submit SHUTDOWN",
    "/usr/sbin/flash-validate \x01 >/dev/console 2>&1",
    "/usr/sbin/flash-upgrade \x01 >/dev/console 2>&1 &",
    "/splashbin/firmware-upgrade tftp://\x02/\x01 &",
    "splashbin/firmware-upgrade tftp://\x02/\x01 &",
    "killall -2 mDNSResponderPosix",
    "/usr/sbin/config-dump \x01 >/dev/console 2>&1",
    "/usr/sbin/config-file validate \x01 >/dev/console 2>&1",
    "/usr/sbin/config-file restore \x01 >/dev/console 2>&1",
    "tftp -g \x02 -l \x01 -r \x01",
    "tftp -p \x02 -l \x01 -r \x01",
    "/usr/bin/wget -T 60 http://\x02/\x01",
}};

bool isFileChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-' || c == '+' || c == '~' || c == '/';
}

bool isAddressChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == '.' ||
           c == ':';
}

// Bytes a password may not hold at all; the escapable ones may appear only
// behind the backslash that escaping put there.
constexpr std::string_view kPasswordForbidden = "@:-/%\"'";
constexpr std::string_view kPasswordEscaped = "$`";

// The file-name rule of the transfer requests; wrapped in slashes, a ".."
// component is a "/../" anywhere.
bool fileOk(std::string_view name) {
    return !name.empty() && name.size() <= 127 &&
           std::all_of(name.begin(), name.end(), isFileChar) && name.front() != '/' &&
           name.front() != '-' && name.front() != '~' &&
           ("/" + std::string(name) + "/").find("/../") == std::string::npos;
}

bool addressOk(std::string_view text) {
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN ||
        !std::all_of(text.begin(), text.end(), isAddressChar))
        return false;
    const std::string copy(text);
    std::array<unsigned char, 16> raw{};
    return inet_pton(AF_INET, copy.c_str(), raw.data()) == 1 ||
           inet_pton(AF_INET6, copy.c_str(), raw.data()) == 1;
}

bool passwordOk(std::string_view text) {
    for (size_t i = 0; i < text.size(); i++) {
        const char c = text[i];
        if (c == '\\') {
            if (i + 1 >= text.size() ||
                kPasswordEscaped.find(text[i + 1]) == std::string_view::npos)
                return false;
            i++;
            continue;
        }
        if (c == '\0' || kPasswordForbidden.find(c) != std::string_view::npos ||
            kPasswordEscaped.find(c) != std::string_view::npos)
            return false;
    }
    return true;
}

bool placeholderOk(char kind, std::string_view arg) {
    switch (kind) {
    case kFile:
        return fileOk(arg);
    case kAddress:
        return addressOk(arg);
    case kPassword:
        return passwordOk(arg);
    }
    return false;
}

bool isPlaceholder(char c) {
    return c == kFile || c == kAddress || c == kPassword;
}

// Template against command, trying every split of each placeholder.
bool matches(std::string_view tpl, std::string_view cmd) {
    if (tpl.empty())
        return cmd.empty();
    if (!isPlaceholder(tpl.front()))
        return !cmd.empty() && cmd.front() == tpl.front() && matches(tpl.substr(1), cmd.substr(1));
    const char kind = tpl.front();
    const size_t first = kind == kPassword ? 0 : 1;
    for (size_t n = first; n <= cmd.size(); n++) {
        // File names and addresses end at the first byte outside their class.
        if (n > 0 && kind == kFile && !isFileChar(cmd[n - 1]))
            break;
        if (n > 0 && kind == kAddress && !isAddressChar(cmd[n - 1]))
            break;
        if (placeholderOk(kind, cmd.substr(0, n)) && matches(tpl.substr(1), cmd.substr(n)))
            return true;
    }
    return false;
}

}  // namespace

bool isDocumentedCommand(std::string_view command) {
    return std::any_of(kTemplates.begin(), kTemplates.end(),
                       [command](std::string_view t) { return matches(t, command); });
}
