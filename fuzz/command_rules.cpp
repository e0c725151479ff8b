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

struct Template {
    std::string_view text;
    bool mayBeCut;  // formatted into 128 bytes: may end after 127 characters
};

constexpr size_t kToolCut = 127;

// The daemon's documented command lines; the shell utilities of start-up
// (mkdir, rm, date) never run on behalf of a request.
constexpr std::array<Template, 15> kTemplates = {{
    {"submit SET_PASSWD 'admin' '\x03'", false},
    {"submit SET_IPADDRESS", false},
    {"submit COMMIT", false},
    {"submit SHUTDOWN", false},
    {"/usr/sbin/flash-validate \x01 >/dev/console 2>&1", true},
    {"/usr/sbin/flash-upgrade \x01 >/dev/console 2>&1 &", true},
    {"/splashbin/firmware-upgrade tftp://\x02/\x01 &", false},
    {"splashbin/firmware-upgrade tftp://\x02/\x01 &", false},
    {"killall -2 mDNSResponderPosix", false},
    {"/usr/sbin/config-dump \x01 >/dev/console 2>&1", false},
    {"/usr/sbin/config-file validate \x01 >/dev/console 2>&1", true},
    {"/usr/sbin/config-file restore \x01 >/dev/console 2>&1", true},
    {"tftp -g \x02 -l \x01 -r \x01", false},
    {"tftp -p \x02 -l \x01 -r \x01", false},
    {"/usr/bin/wget http://\x02/\x01", false},
}};

bool isFileChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '.' || c == '_' || c == '-' || c == '+' || c == '~' || c == '/';
}

bool isAddressChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') ||
           c == '.' || c == ':';
}

// Bytes a password may not hold at all; the escapable ones may appear only
// behind the backslash that escaping put there.
constexpr std::string_view kPasswordForbidden = "@:-/%\"'";
constexpr std::string_view kPasswordEscaped = "$`";

bool hasDotDotComponent(std::string_view name) {
    size_t start = 0;
    while (start <= name.size()) {
        const size_t end = std::min(name.find('/', start), name.size());
        if (name.substr(start, end - start) == "..")
            return true;
        start = end + 1;
    }
    return false;
}

// The file-name rule of the transfer requests. A name the 128-byte cut
// ended early only has to keep to the characters.
bool fileOk(std::string_view name, bool cut) {
    if (name.empty() || name.size() > 127)
        return false;
    for (char c : name) {
        if (!isFileChar(c))
            return false;
    }
    if (name.front() == '/' || name.front() == '-' || name.front() == '~')
        return false;
    return cut || !hasDotDotComponent(name);
}

bool addressOk(std::string_view text, bool cut) {
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN)
        return false;
    for (char c : text) {
        if (!isAddressChar(c))
            return false;
    }
    if (cut)
        return true;
    const std::string copy(text);
    std::array<unsigned char, 16> raw{};
    return inet_pton(AF_INET, copy.c_str(), raw.data()) == 1 ||
           inet_pton(AF_INET6, copy.c_str(), raw.data()) == 1;
}

bool passwordOk(std::string_view text) {
    for (size_t i = 0; i < text.size(); i++) {
        const char c = text[i];
        if (c == '\\') {
            if (i + 1 >= text.size() || kPasswordEscaped.find(text[i + 1]) == std::string_view::npos)
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

bool placeholderOk(char kind, std::string_view arg, bool cut) {
    switch (kind) {
    case kFile:
        return fileOk(arg, cut);
    case kAddress:
        return addressOk(arg, cut);
    case kPassword:
        return passwordOk(arg);
    }
    return false;
}

bool isPlaceholder(char c) { return c == kFile || c == kAddress || c == kPassword; }

// Template against command, trying every split of each placeholder. With
// `cut`, the command may end anywhere inside the template.
bool matches(std::string_view tpl, std::string_view cmd, bool cut) {
    if (tpl.empty())
        return cmd.empty();
    if (cmd.empty() && cut)
        return true;
    if (!isPlaceholder(tpl.front()))
        return !cmd.empty() && cmd.front() == tpl.front() && matches(tpl.substr(1), cmd.substr(1), cut);
    const char kind = tpl.front();
    const size_t first = kind == kPassword ? 0 : 1;
    for (size_t n = first; n <= cmd.size(); n++) {
        // File names and addresses end at the first byte outside their class.
        if (n > 0 && kind == kFile && !isFileChar(cmd[n - 1]))
            break;
        if (n > 0 && kind == kAddress && !isAddressChar(cmd[n - 1]))
            break;
        const bool endsCut = cut && n == cmd.size();
        if (placeholderOk(kind, cmd.substr(0, n), endsCut) && matches(tpl.substr(1), cmd.substr(n), cut))
            return true;
    }
    return false;
}

}  // namespace

bool isDocumentedCommand(std::string_view command, std::string &why) {
    for (const Template &t : kTemplates) {
        if (matches(t.text, command, false))
            return true;
        if (t.mayBeCut && command.size() == kToolCut && matches(t.text, command, true))
            return true;
    }
    why = "not a documented command line with safe arguments";
    return false;
}
