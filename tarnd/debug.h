// The debug printer and the process-wide debug level.
//
// Trace lines of every part of the daemon go through dbgPrint. They appear
// only when the daemon was started with -d: on a device the console is
// precious, and the protocol's own lines that must always appear (the
// not-supported line, store errors) are printed with plain printf instead.
#pragma once

extern int g_debugLevel;  // 0 = quiet; -d sets 1

// printf-style; writes "tarnd: " and the message to standard error in one
// write, cut at 1024 bytes. No line end is added.
void dbgPrint(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
