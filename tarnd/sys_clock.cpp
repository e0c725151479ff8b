// Clock and NTP readers. The device keeps its time in the system clock only,
// so the date is taken from the date command rather than from the store.
#include "sys_clock.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string_view>

#include "cfg.h"
#include "debug.h"

namespace {

constexpr const char *kDefaultTrimRight = " \t\n\r";
constexpr const char *kDefaultTrimLeft = " \t\r\n";
constexpr size_t kLineLen = 1024;  // one line of at most 1023 characters
constexpr size_t kStatusLen = 8;
constexpr size_t kDateDigits = 14;  // %Y%m%d%H%M%S
constexpr std::time_t kClockTolerance =
    std::time_t{24} * 3600;  // any time zone the date tool may use

struct PipeCloser {
    void operator()(FILE *pipe) const { pclose(pipe); }
};
using Pipe = std::unique_ptr<FILE, PipeCloser>;

}  // namespace

bool sysReadTrimmedLine(const char *command, std::span<char> buf) {
    std::ranges::fill(buf, '\0');
    Pipe pipe(popen(command, "re"));  // not inherited by programs other threads start
    if (!pipe)
        return false;
    char line[kLineLen] = {};
    if (fgets(line, sizeof line, pipe.get()) == nullptr)
        return false;
    const char *text = strTrim(line, nullptr);
    size_t len = std::strlen(text);
    // buf_len>strlen(str): a line that leaves no room for its terminator is
    // refused whole rather than cut, so a caller never reports half a date.
    if (len >= buf.size())
        return false;
    std::memcpy(buf.data(), text, len + 1);
    return true;
}

bool sysIsClockDate(const char *text, std::time_t now) {
    if (std::strlen(text) != kDateDigits || std::strspn(text, "0123456789") != kDateDigits)
        return false;
    std::tm tm = {};
    const char *end = strptime(text, "%Y%m%d%H%M%S", &tm);
    if (end == nullptr || *end != '\0')
        return false;
    tm.tm_isdst = -1;
    const std::time_t stamp = std::mktime(&tm);
    if (stamp == static_cast<std::time_t>(-1) || now == static_cast<std::time_t>(-1))
        return false;
    return stamp - now <= kClockTolerance && now - stamp <= kClockTolerance;
}

int sysGetDatetime(std::span<char> buf) {
    if (!sysReadTrimmedLine("date +%Y%m%d%H%M%S", buf))
        return -1;
    if (!sysIsClockDate(buf.data(), std::time(nullptr))) {
        dbgPrint("date printed \"%s\", not the clock's date: not reported\n", buf.data());
        std::ranges::fill(buf, '\0');
        return -1;
    }
    return 0;
}

int sysGetDatetimeField(std::span<uint8_t> field) {
    return sysGetDatetime({reinterpret_cast<char *>(field.data()), field.size()});
}

uint8_t sysGetDaylightSaving() {
    return 0;
}

uint8_t sysGetNtpStatus() {
    char status[kStatusLen] = {};
    cfgGet("ntp", "status", status);
    return std::string_view(status) == "up" ? 1 : 0;
}

int sysGetNtpServer(std::span<char> buf) {
    std::ranges::fill(buf, '\0');
    cfgGet("ntp", "server", buf);
    return 0;
}

char *strTrimRight(char *text, const char *set) {
    if (text == nullptr)
        return text;
    if (set == nullptr)
        set = kDefaultTrimRight;
    size_t len = std::strlen(text);
    while (len > 0 && std::strchr(set, text[len - 1]) != nullptr)
        text[--len] = '\0';
    return text;
}

char *strTrimLeft(char *text, const char *set) {
    if (text == nullptr)
        return text;
    if (set == nullptr)
        set = kDefaultTrimLeft;
    // strchr also matches the terminator; the explicit test stops there.
    while (*text != '\0' && std::strchr(set, *text) != nullptr)
        ++text;
    return text;
}

char *strTrim(char *text, const char *set) {
    return strTrimLeft(strTrimRight(text, set), set);
}
