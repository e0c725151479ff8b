// Process-wide state, set by start-up and the event loop.
#include "daemon_state.h"

int g_ifCount = 0;
InterfaceContext **g_ifTable = nullptr;
int g_curIfIndex = 0;
const char *g_captureFolder = "/Volume_1";
