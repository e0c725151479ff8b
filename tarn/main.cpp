// tarn: finds and manages tarnd access points on the local segment.
#include <cstdio>
#include <exception>

#include "commands.h"
#include "completion.h"
#include "errors.h"
#include "tarn_version.h"

namespace {

using namespace tarn;

constexpr const char *kGlobalHelp =
    "usage: tarn [options] COMMAND [command options]\n"
    "\n"
    "Finds and manages access points on the local network segment by UDP broadcast.\n"
    "\n"
    "options (before or after the command):\n"
    "  -i IFACE            use this interface (repeat or separate with commas);\n"
    "                      default: every interface that is up with an IPv4 broadcast address\n"
    "  -d DEVICE           the device to manage: its MAC (00:11:22:33:44:55) or IPv4 address\n"
    "  -t SECONDS          time to wait for replies per try, and for discovery (default 2)\n"
    "  -r N                retries after an unanswered request (default 2)\n"
    "  -u USER             user name for protected operations (default admin)\n"
    "  --password-file F   read the password from the first line of F; otherwise\n"
    "                      TARN_PASSWORD, otherwise a prompt without echo\n"
    "  --json              print JSON instead of tables and text\n"
    "  -h, --help          show this help, or a command's help after the command\n"
    "  --version           print the version and exit\n"
    "\n"
    "exit status: 0 done, 1 refused by the device, 2 usage error, 3 no reply\n"
    "\n"
    "commands:\n";

void printGlobalHelp() {
    std::printf("%s", kGlobalHelp);
    for (const Command &c : commandTable())
        std::printf("  %-14s %s\n", std::string(c.name).c_str(), std::string(c.summary).c_str());
    std::printf("\nSee tarn COMMAND --help and the manual page tarn(1).\n");
}

void printCommandHelp(const Command &c) {
    std::printf("usage: tarn [options] %s\n\n%s\n\n%s\n", std::string(c.usage).c_str(),
                std::string(c.summary).c_str(), std::string(c.details).c_str());
}

Options globalOptions(Args &args) {
    Options o;
    for (const std::string &list : args.values("-i")) {
        size_t start = 0;
        while (start <= list.size()) {
            const size_t comma = std::min(list.find(',', start), list.size());
            if (comma > start)
                o.interfaces.push_back(list.substr(start, comma - start));
            start = comma + 1;
        }
    }
    o.device = args.value("-d").value_or("");
    if (std::optional<std::string> t = args.value("-t"))
        o.timeout = parseSeconds(*t, "-t");
    if (std::optional<std::string> r = args.value("-r"))
        o.retries = static_cast<int>(parseInteger(*r, "-r", 0, 100));
    o.user = args.value("-u").value_or("admin");
    o.passwordFile = args.value("--password-file").value_or("");
    o.json = args.flag("--json");
    return o;
}

int run(int argc, char **argv) {
    if (argc > 1 && std::string_view(argv[1]) == "__complete") {  // for the shells only
        const std::vector<std::string> words(argv + 2, argv + argc);
        return printCompletion(complete(kGlobalHelp, words));
    }
    Args args(std::vector<std::string>(argv + 1, argv + argc));
    if (args.flag("--version")) {
        std::printf("tarn %s\n", TARN_VERSION);
        return kExitOk;
    }
    const Options options = globalOptions(args);
    const bool help = args.flag("--help") | args.flag("-h");
    const std::optional<std::string> name = args.positional();
    if (!name) {
        if (!help)
            throw UsageError("missing command; see tarn --help.");
        printGlobalHelp();
        return kExitOk;
    }
    const Command *cmd = findCommand(*name);
    if (!cmd)
        throw UsageError("unknown command \"" + *name + "\"; see tarn --help.");
    if (help) {
        printCommandHelp(*cmd);
        return kExitOk;
    }
    Session session(options);
    return cmd->run(session, args);
}

}  // namespace

int main(int argc, char **argv) {
    try {
        return run(argc, argv);
    } catch (const tarn::Error &e) {
        std::fflush(stdout);
        std::fprintf(stderr, "tarn: %s\n", e.what());
        return e.code();
    } catch (const std::exception &e) {
        std::fflush(stdout);
        std::fprintf(stderr, "tarn: %s\n", e.what());
        return tarn::kExitRefused;
    }
}
