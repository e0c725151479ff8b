// The XML database layer: a null store on this device, and the text-to-number
// conversions its numeric reads use.
//
// A path whose formatted text does not fit 1024 bytes is refused, not cut:
// a cut path would name a different value. A refused read still yields the
// empty text (or 0); a refused write returns -1.
#include "dbxmldb.h"

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr size_t kPathLen = 1024;
constexpr size_t kValueLen = 1024;
using PathBuf = std::array<char, kPathLen>;

__attribute__((format(printf, 2, 0))) bool formatPath(PathBuf &path, const char *fmt, va_list ap) {
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): every caller's va_start is right before;
    // clang 14 loses it
    const int n = std::vsnprintf(path.data(), path.size(), fmt, ap);
    return n >= 0 && static_cast<size_t>(n) < path.size();
}

// The store behind the paths. It holds nothing: reads find an empty text and
// writes are dropped.
int readPath(std::span<char> out, const PathBuf & /*path*/) {
    if (!out.empty()) {
        out[0] = '\0';
    }
    return 0;
}

int writePath(const char * /*value*/, const PathBuf & /*path*/) {
    return 0;
}

// Reads the text at the path into a value buffer; an empty text means none.
__attribute__((format(printf, 2, 0))) bool readValue(std::array<char, kValueLen> &value,
                                                     const char *fmt,
                                                     va_list ap) {
    value[0] = '\0';
    PathBuf path;
    if (formatPath(path, fmt, ap)) {
        readPath(value, path);
    }
    return value[0] != '\0';
}

__attribute__((format(printf, 2, 0))) int writeValue(const char *value,
                                                     const char *fmt,
                                                     va_list ap) {
    PathBuf path;
    return formatPath(path, fmt, ap) ? writePath(value, path) : -1;
}

}  // namespace

int dbGetString(std::span<char> out, const char *fmt, ...) {
    if (!out.empty()) {
        out[0] = '\0';
    }
    PathBuf path;
    va_list ap;
    va_start(ap, fmt);
    const bool fits = formatPath(path, fmt, ap);
    va_end(ap);
    return fits ? readPath(out, path) : -1;
}

uint64_t dbGetU64(const char *fmt, ...) {
    std::array<char, kValueLen> value;
    va_list ap;
    va_start(ap, fmt);
    const bool found = readValue(value, fmt, ap);
    va_end(ap);
    return found ? str2ull(value.data()) : 0;
}

int64_t dbGetI64(const char *fmt, ...) {
    std::array<char, kValueLen> value;
    va_list ap;
    va_start(ap, fmt);
    const bool found = readValue(value, fmt, ap);
    va_end(ap);
    return found ? str2ll(value.data()) : 0;
}

int dbSetString(const char *value, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    const int rc = writeValue(value, fmt, ap);
    va_end(ap);
    return rc;
}

int dbSetU64(uint64_t value, const char *fmt, ...) {
    std::array<char, kValueLen> text;
    std::snprintf(text.data(), text.size(), "%llu", static_cast<unsigned long long>(value));
    va_list ap;
    va_start(ap, fmt);
    const int rc = writeValue(text.data(), fmt, ap);
    va_end(ap);
    return rc;
}

int dbSetI64(int64_t value, const char *fmt, ...) {
    std::array<char, kValueLen> text;
    std::snprintf(text.data(), text.size(), "%lld", static_cast<long long>(value));
    va_list ap;
    va_start(ap, fmt);
    const int rc = writeValue(text.data(), fmt, ap);
    va_end(ap);
    return rc;
}

namespace {

// Only a lower-case "0x" selects hexadecimal; "0X" stays decimal and so ends
// up invalid.
int baseOf(const char *text) {
    return text[0] == '0' && text[1] == 'x' ? 16 : 10;
}

}  // namespace

long long str2ll(const char *text) {
    errno = 0;
    if (text == nullptr) {
        std::printf("str2ll: input string is NULL\n");
        errno = EINVAL;
        return 0;
    }
    char *rest = nullptr;
    const long long value = std::strtoll(text, &rest, baseOf(text));
    if (errno == ERANGE || (errno != 0 && value == 0)) {
        errno = ERANGE;
        return 0;
    }
    if (*rest != '\0') {
        std::printf("str2ll: input string, %s, is invalid\n", text);
        std::printf("str2ll: %s\n", rest);
        errno = EINVAL;
        return 0;
    }
    return value;
}

unsigned long long str2ull(const char *text) {
    errno = 0;
    if (text == nullptr) {
        std::printf("str2ull: input string is NULL\n");
        errno = EINVAL;
        return 0;
    }
    char *rest = nullptr;
    const unsigned long long value = std::strtoull(text, &rest, baseOf(text));
    if (errno == ERANGE || (errno != 0 && value == 0)) {
        errno = ERANGE;
        return 0;
    }
    if (*rest != '\0') {
        std::printf("str2ull: input string, %s, is invalid\n", text);
        errno = EINVAL;
        return 0;
    }
    return value;
}
