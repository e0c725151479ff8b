// tarn: finds and manages tarnd access points on the local segment.
#include <cstdio>
#include <exception>

#include "check.h"
#include "cmdline.h"
#include "commands.h"
#include "completion.h"
#include "errors.h"
#include "tarn_version.h"

namespace {

using namespace tarn;

int run(const std::vector<std::string> &tokens) {
    if (!tokens.empty() && tokens[0] == "__complete")  // for the shells only
        return printCompletion(complete(globalHelpText(), std::span(tokens).subspan(1)));
    CommandLine line = parseCommandLine(tokens);
    if (line.version) {
        std::printf("tarn %s\n", TARN_VERSION);
        return kExitOk;
    }
    if (!line.command) {
        if (!line.help) {
            line.args.finish();  // an unknown option says more than a missing command
            throw UsageError("missing command; see tarn help.");
        }
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
    const std::vector<std::string> tokens(argv + 1, argv + argc);
    try {
        return run(tokens);
    } catch (const tarn::Error &e) {
        // A monitoring plugin answers in its own terms, also to a wrong
        // global option.
        if (tarn::commandWord(tokens) == "check")
            return tarn::printCheckUnknown(e.what());
        report(e.what());
        return e.code();
    } catch (const std::exception &e) {
        report(e.what());
        return tarn::kExitRefused;
    }
}
