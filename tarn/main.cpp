// tarn: finds and manages tarnd access points on the local segment.
#include <cstdio>
#include <exception>

#include "cmdline.h"
#include "commands.h"
#include "errors.h"

namespace {

using namespace tarn;

int run(int argc, char **argv) {
    CommandLine line = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (line.version) {
        std::printf("tarn %s\n", TARN_VERSION);
        return kExitOk;
    }
    if (!line.command) {
        if (!line.help)
            throw UsageError("missing command; see tarn help.");
        printGlobalHelp();
        return kExitOk;
    }
    const Command *cmd = findCommand(*line.command);
    if (!cmd)
        throw UsageError("unknown command \"" + *line.command + "\"; see tarn help.");
    if (line.help) {
        printCommandHelp(*cmd);
        return kExitOk;
    }
    Session session(line.options);
    return cmd->run(session, line.args);
}

void report(const char *message) {
    std::fflush(stdout);
    // Messages quote what devices sent.
    std::fprintf(stderr, "tarn: %s\n", terminalText(message).c_str());
}

}  // namespace

int main(int argc, char **argv) {
    try {
        return run(argc, argv);
    } catch (const tarn::Error &e) {
        report(e.what());
        return e.code();
    } catch (const std::exception &e) {
        report(e.what());
        return tarn::kExitRefused;
    }
}
