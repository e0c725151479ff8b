// The XML database layer. On this device it has no backing store: reads
// find nothing and writes are accepted and dropped, but callers are written
// against the interface so that a backed store would just work.
// Paths are printf-style formats, formatted into 1024 bytes.
#pragma once

#include <cstdint>
#include <span>

int dbGetString(std::span<char> out, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
uint64_t dbGetU64(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
int64_t dbGetI64(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
int dbSetString(const char *value, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
int dbSetU64(uint64_t value, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
int dbSetI64(int64_t value, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

// Decimal, or hexadecimal with a leading "0x". Failures give 0 with errno
// EINVAL (null or malformed text, with a message on stdout) or ERANGE.
long long str2ll(const char *text);
unsigned long long str2ull(const char *text);
