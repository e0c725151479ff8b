// Clock and NTP readers, and the text trimming they use.
#pragma once

#include <cstdint>
#include <span>

// Clears `buf`, then fills it with "date +%Y%m%d%H%M%S"'s trimmed line.
int sysGetDatetime(std::span<char> buf);
// The reader behind sysGetDatetime: runs `command`, takes its first line
// (at most 1023 characters), trims it and copies it with its terminator.
// -1 with `buf` cleared when the command cannot start, prints nothing, or
// its trimmed line does not fit `buf` with the terminator (never cut).
int sysReadTrimmedLine(const char *command, std::span<char> buf);
// The date text as a protocol field: zero-padded, all zero on failure.
int sysGetDatetimeField(std::span<uint8_t> field);
uint8_t sysGetDaylightSaving();  // always 0
uint8_t sysGetNtpStatus();       // 1 when ("ntp", "status") is "up"
int sysGetNtpServer(std::span<char> buf);

// Default set (null): space, tab, line feed, carriage return.
char *strTrimRight(char *text, const char *set);
char *strTrimLeft(char *text, const char *set);
char *strTrim(char *text, const char *set);
