// The debug printer: one "tarnd: "-prefixed line per call on standard error.
#include "debug.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

int g_debugLevel = 0;

namespace {
constexpr std::string_view kPrefix = "tarnd: ";
constexpr size_t kLineLen = 1024;
}  // namespace

void dbgPrint(const char *fmt, ...) {
    if (g_debugLevel == 0) {
        return;
    }
    char line[kLineLen];
    std::memcpy(line, kPrefix.data(), kPrefix.size());
    va_list ap;
    va_start(ap, fmt);
    // A line that does not fit is cut at the end of the buffer.
    std::vsnprintf(line + kPrefix.size(), sizeof line - kPrefix.size(), fmt, ap);
    va_end(ap);
    // Written as plain text: a percent sign that came in through an argument
    // is printed, never taken as a conversion.
    std::fputs(line, stderr);
}
