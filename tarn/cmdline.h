// The command line: the global options, which may stand before or after
// the command word, and what is left for the command.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "args.h"
#include "session.h"

namespace tarn {

struct CommandLine {
    Options options;
    bool help = false;
    bool version = false;
    std::optional<std::string> command;
    Args args;  // the command's options and arguments
};

// Reads the command line left to right, so that an option's value is never
// taken for an option. The global options are those tarn --help lists, a
// command's those its usage lines list. A --timeout after the name of a
// command that takes --timeout itself (listen, watch) is that command's;
// before it, and -t anywhere, it is the global one.
CommandLine parseCommandLine(const std::vector<std::string> &tokens);

// The command word alone, known even when the options around it are wrong.
std::optional<std::string> commandWord(const std::vector<std::string> &tokens);

}  // namespace tarn
