// The credential decoder on any text: it stays inside its output, clears it
// first, and a 64-character field never decodes to more than 48 bytes.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "auth.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    std::array<char, kUserNameLen> out;
    out.fill('x');
    base64Decode(out, text);
    if (text.size() > 1022) {
        if (std::any_of(out.begin(), out.end(), [](char c) { return c != '\0'; }))
            std::abort();
        return 0;
    }
    // Whatever was decoded, the rest of the output was cleared.
    const size_t most = (text.size() + 1) / 4 * 3 + 3;
    if (std::any_of(out.begin() + static_cast<long>(std::min(most, out.size())), out.end(),
                    [](char c) { return c != '\0'; }))
        std::abort();
    if (text.size() <= 64 && strnlen(out.data(), out.size()) > 48)
        std::abort();
    // The decoder also meets the caller's smaller buffers.
    std::array<char, 7> small;
    base64Decode(small, text);
    return 0;
}
