// strTrim on any text and set: the result lies inside the text, is a piece
// of it, and neither begins nor ends with a character of the set. The first
// input byte chooses the set's length (0: the default set).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sys_clock.h"

constexpr std::string_view kDefaultSet = " \t\r\n";

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    const size_t setLen = std::min<size_t>(data[0] % 8, size - 1);
    const std::string set(reinterpret_cast<const char *>(data) + 1, setLen);
    std::string text(reinterpret_cast<const char *>(data) + 1 + setLen, size - 1 - setLen);
    const std::string before(text.c_str());

    const char *result = strTrim(text.data(), setLen == 0 ? nullptr : set.c_str());
    if (result < text.data() || result > text.data() + before.size())
        std::abort();
    const std::string_view trimmed(result);
    const std::string_view chars = setLen == 0 ? kDefaultSet : std::string_view(set.c_str());
    if (before.find(trimmed) == std::string::npos)
        std::abort();
    if (!trimmed.empty() && (chars.find(trimmed.front()) != std::string_view::npos ||
                             chars.find(trimmed.back()) != std::string_view::npos))
        std::abort();
    return 0;
}
