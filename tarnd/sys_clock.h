// Clock and NTP readers, and the text trimming they use.
#pragma once

#include <cstdint>
#include <span>

// Clears `buf`, then fills it with "date +%Y%m%d%H%M%S"'s trimmed line.
int sysGetDatetime(std::span<char> buf);
uint8_t sysGetDaylightSaving();  // always 0
uint8_t sysGetNtpStatus();       // 1 when ("ntp", "status") is "up"
int sysGetNtpServer(std::span<char> buf);

// Default set (null): space, tab, line feed, carriage return.
char *strTrimRight(char *text, const char *set);
char *strTrimLeft(char *text, const char *set);
char *strTrim(char *text, const char *set);
