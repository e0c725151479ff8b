// The management address a factory reset asked to keep: "/etc/reserved_IP",
// written as "ip,mask,gateway," by the reset handler, applied once at the
// next start-up and then removed.
#pragma once

#include <array>
#include <string_view>

inline constexpr const char *kReservedIpFile = "/etc/reserved_IP";

inline constexpr size_t kReservedFieldLen = 32;  // 31 characters and the terminator
using ReservedField = std::array<char, kReservedFieldLen>;

struct ReservedAddress {
    ReservedField ip;
    ReservedField mask;
    ReservedField gateway;  // empty when the device had no default gateway
};

enum class ReservedVerdict {
    Accepted,
    TooFewFields,  // fewer than address and mask
    NotAnAddress,  // one of the first three fields is no dotted-decimal IPv4 address
};

// Splits the text at commas (empty fields are skipped) into address, mask and
// optional gateway. Fields after the third are ignored. On refusal `out` is
// left cleared.
ReservedVerdict parseReservedAddress(std::string_view text, ReservedAddress &out);

// Why a file was refused, for the log line.
const char *reservedVerdictText(ReservedVerdict verdict);

// Applies and removes the file if there is one. Ends the process with status
// 2 when the file cannot be held in memory and 3 when it cannot be read.
void restoreReservedAddress();
