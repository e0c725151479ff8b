// The kept-address file's parser on any content: an accepted text yields
// terminated dotted-decimal fields, a refused one leaves them cleared.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "reserved_ip.h"

namespace {

bool terminated(const ReservedField &f) {
    return std::find(f.begin(), f.end(), '\0') != f.end();
}

// Digits and exactly three dots: what start-up may hand to the store as an
// address (the parser allows leading zeros, so inet_pton is no judge).
bool isAddress(const ReservedField &f) {
    const std::string_view text(f.data());
    return !text.empty() && std::count(text.begin(), text.end(), '.') == 3 &&
           std::all_of(text.begin(), text.end(),
                       [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
}

bool cleared(const ReservedField &f) {
    return std::all_of(f.begin(), f.end(), [](char c) { return c == '\0'; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    ReservedAddress out;
    std::memset(&out, 'x', sizeof out);
    const ReservedVerdict verdict = parseReservedAddress(text, out);
    reservedVerdictText(verdict);
    if (!terminated(out.ip) || !terminated(out.mask) || !terminated(out.gateway))
        std::abort();
    switch (verdict) {
    case ReservedVerdict::Accepted:
        if (!isAddress(out.ip) || !isAddress(out.mask) ||
            (out.gateway[0] != '\0' && !isAddress(out.gateway)))
            std::abort();
        break;
    case ReservedVerdict::TooFewFields:
    case ReservedVerdict::NotAnAddress:
        if (!cleared(out.ip) || !cleared(out.mask) || !cleared(out.gateway))
            std::abort();
        break;
    }
    return 0;
}
