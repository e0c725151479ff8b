// lsql: reads and writes the settings store from the shell.
#include <cstdio>
#include <span>

#include "lsql_args.h"
#include "lsql_commands.h"

int main(int argc, char **argv) {
    std::string fault;
    std::optional<lsq::Command> cmd = lsq::parseCommand(
        std::span<const char *const>(argv + 1, static_cast<size_t>(argc - 1)), fault);
    if (!cmd) {
        std::fprintf(stderr, "lsql: %s\n", fault.c_str());
        return 2;
    }
    return lsq::runCommand(*cmd);
}
