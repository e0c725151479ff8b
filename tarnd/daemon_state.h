// Process-wide state shared by start-up, the event loop and the handlers.
#pragma once

#include <cstddef>

inline constexpr size_t kIfNameLen = 32;

// One per management interface; lives for the whole process.
struct InterfaceContext {
    char name[kIfNameLen];
    int recvSock;  // bound to 255.255.255.255:62976 on this interface, -1 when not open
    int sendSock;  // unbound; replies and announcements leave from it, -1 when not open
};

extern int g_ifCount;                 // from sysGetIfCount at start-up
extern InterfaceContext **g_ifTable;  // g_ifCount slots, null for an interface not set up
extern int g_curIfIndex;              // interface being served; handlers pass it to accessors
extern const char *g_captureFolder;   // "/Volume_1" unless -f; may be null
