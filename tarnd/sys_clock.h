// Clock and NTP readers, and the text trimming they use.
#pragma once

#include <cstdint>
#include <ctime>
#include <span>

// Clears `buf`, then fills it with "date +%Y%m%d%H%M%S"'s trimmed line when
// that is the clock's date (sysIsClockDate); -1 with `buf` cleared if not.
int sysGetDatetime(std::span<char> buf);
// Whether `text` is 14 digits of a local date and time within a day of
// `now`. A date tool that counts time in 32 bits wraps in January 2038 (to
// 1901, or to 1970 when the C library refuses the time): the daemon
// reports no date rather than a wrong one. A daemon whose own time_t is 32
// bits cannot read the clock after 2038 (`now` is -1) and refuses too.
bool sysIsClockDate(const char *text, std::time_t now);
// The reader behind sysGetDatetime: runs `command`, takes its first line
// (at most 1023 characters), trims it and copies it with its terminator.
// False with `buf` cleared when the command cannot start, prints nothing,
// or its trimmed line does not fit `buf` with the terminator (never cut).
bool sysReadTrimmedLine(const char *command, std::span<char> buf);
// The date text as a protocol field: zero-padded, all zero on failure.
int sysGetDatetimeField(std::span<uint8_t> field);
uint8_t sysGetDaylightSaving();  // always 0
uint8_t sysGetNtpStatus();       // 1 when ("ntp", "status") is "up"
int sysGetNtpServer(std::span<char> buf);

// Default set (null): space, tab, line feed, carriage return.
char *strTrimRight(char *text, const char *set);
char *strTrimLeft(char *text, const char *set);
char *strTrim(char *text, const char *set);
