// Restoring the management address kept across a factory reset.
#include "reserved_ip.h"

#include "cfg.h"
#include "stdio_file.h"
#include "sys.h"
#include "sys_cmd.h"

#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

// "rm -rf " and the file name, which is a constant: the command always fits.
constexpr size_t kRemoveCommandLen = 64;
static_assert(sizeof "rm -rf " + std::char_traits<char>::length(kReservedIpFile) <=
              kRemoveCommandLen);

// The next non-empty field at or after `pos`; empty at the end of the text.
std::string_view nextField(std::string_view text, size_t &pos) {
    while (pos < text.size() && text[pos] == ',') {
        ++pos;
    }
    const size_t start = pos;
    while (pos < text.size() && text[pos] != ',') {
        ++pos;
    }
    return text.substr(start, pos - start);
}

bool storeField(std::string_view field, ReservedField &slot) {
    if (field.size() >= slot.size() || !sysIsIpv4Text(field)) {
        return false;
    }
    slot.fill('\0');
    field.copy(slot.data(), field.size());
    return true;
}

// The file's whole text; ends the process as start-up promises when it
// cannot be held or read.
std::unique_ptr<char[]> readWhole(std::FILE *file, size_t &size) {
    struct stat st {};
    if (fstat(fileno(file), &st) != 0 || st.st_size < 0) {
        std::fputs("Reading error", stderr);
        std::exit(3);
    }
    size = static_cast<size_t>(st.st_size);
    std::unique_ptr<char[]> text{new (std::nothrow) char[size + 1]};
    if (!text) {
        std::fputs("Memory error", stderr);
        std::exit(2);
    }
    if (std::fread(text.get(), 1, size, file) != size) {
        std::fputs("Reading error", stderr);
        std::exit(3);
    }
    text[size] = '\0';
    return text;
}

void apply(const ReservedAddress &addr) {
    // Results are not checked: a failing write reports itself.
    cfgSet("management", "static-ip", addr.ip.data());
    cfgSet("management", "static-mask", addr.mask.data());
    cfgSet("static-ip-route", "gateway", addr.gateway.data());
    cfgSet("management", "dhcp-status", "down");
}

}  // namespace

ReservedVerdict parseReservedAddress(std::string_view text, ReservedAddress &out) {
    out = ReservedAddress{};
    size_t pos = 0;
    const std::string_view ip = nextField(text, pos);
    const std::string_view mask = nextField(text, pos);
    const std::string_view gateway = nextField(text, pos);
    if (ip.empty() || mask.empty()) {
        return ReservedVerdict::TooFewFields;
    }
    // A device without a default gateway saves "ip,mask,,": the address and
    // mask must still survive the reset.
    const bool valid = storeField(ip, out.ip) && storeField(mask, out.mask) &&
                       (gateway.empty() || storeField(gateway, out.gateway));
    if (!valid) {
        out = ReservedAddress{};
        return ReservedVerdict::NotAnAddress;
    }
    return ReservedVerdict::Accepted;
}

const char *reservedVerdictText(ReservedVerdict verdict) {
    // Indexed by ReservedVerdict.
    static constexpr std::array<const char *, 3> kText = {
        "accepted",
        "it holds fewer than an address and a mask",
        "a field is not a dotted-decimal IPv4 address",
    };
    return kText[static_cast<size_t>(verdict)];
}

void restoreReservedAddress() {
    File file{std::fopen(kReservedIpFile, "re")};
    if (!file) {
        return;
    }
    size_t size = 0;
    const std::unique_ptr<char[]> text = readWhole(file.get(), size);
    ReservedAddress addr;
    const ReservedVerdict verdict = parseReservedAddress({text.get(), size}, addr);
    switch (verdict) {
    case ReservedVerdict::Accepted:
        apply(addr);
        break;
    case ReservedVerdict::TooFewFields:
    case ReservedVerdict::NotAnAddress:
        std::printf("Ignoring %s: %s\n", kReservedIpFile, reservedVerdictText(verdict));
        break;
    }
    file.reset();
    std::array<char, kRemoveCommandLen> command;
    std::snprintf(command.data(), command.size(), "rm -rf %s", kReservedIpFile);
    sysShell(command.data());
}
