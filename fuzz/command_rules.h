// The oracle of the request fuzzer: is a command line that the daemon handed
// to the shell one of the device's own command lines, filled only with
// arguments the shell reads as plain words?
#pragma once

#include <string_view>

// True when `command` is a documented command line whose placeholders hold
// a safe file name, a numeric server address or a single-quoted, escaped
// password, and nothing is cut.
bool isDocumentedCommand(std::string_view command);
