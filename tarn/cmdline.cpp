#include "cmdline.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string_view>

#include "commands.h"
#include "errors.h"

namespace tarn {

namespace {

struct GlobalOption {
    std::string_view shortName;  // empty when there is none
    std::string_view longName;
    bool takesValue;
};

constexpr GlobalOption kInterface{"-i", "--interface", true};
constexpr GlobalOption kDevice{"-d", "--device", true};
constexpr GlobalOption kTimeout{"-t", "--timeout", true};
constexpr GlobalOption kRetries{"-r", "--retries", true};
constexpr GlobalOption kUser{"-u", "--user", true};
constexpr GlobalOption kPasswordFile{"", "--password-file", true};
constexpr GlobalOption kJson{"", "--json", false};
constexpr GlobalOption kHelp{"-h", "--help", false};
constexpr GlobalOption kVersion{"", "--version", false};
constexpr std::array kGlobalOptions{kInterface,    kDevice, kTimeout, kRetries, kUser,
                                    kPasswordFile, kJson,   kHelp,    kVersion};

// The command word: the first token that is neither an option nor the
// separate value of a global option. Command options may stand before it.
std::optional<size_t> commandIndex(const std::vector<std::string> &tokens) {
    for (size_t i = 0; i < tokens.size(); i++) {
        const std::string &t = tokens[i];
        if (t == "--")
            return i + 1 < tokens.size() ? std::optional(i + 1) : std::nullopt;
        const bool separateValue =
            std::any_of(kGlobalOptions.begin(), kGlobalOptions.end(), [&](const GlobalOption &g) {
                return g.takesValue && (t == g.shortName || t == g.longName);
            });
        if (separateValue)
            i++;
        else if (t.empty() || t[0] != '-' || t == "-")
            return i;
    }
    return std::nullopt;
}

// The global options of both parts; `after` keeps the long form of a global
// option that the command takes itself.
class Globals {
public:
    Globals(Args &before, Args &after, std::string_view ownOption)
        : before_(before), after_(after), ownOption_(ownOption) {}

    std::vector<std::string> values(const GlobalOption &g) {
        std::vector<std::string> out = before_.values({g.shortName, g.longName});
        if (g.longName == ownOption_) {
            for (std::string &v : after_.values(g.shortName))
                out.push_back(std::move(v));
        } else {
            for (std::string &v : after_.values({g.shortName, g.longName}))
                out.push_back(std::move(v));
        }
        return out;
    }

    std::optional<std::string> value(const GlobalOption &g) {
        std::vector<std::string> all = values(g);
        if (all.size() > 1)
            throw UsageError(std::string(g.longName) + " is given more than once.");
        return all.empty() ? std::nullopt : std::optional(all.front());
    }

    bool flag(const GlobalOption &g) {
        const bool early = before_.flag({g.shortName, g.longName});
        if (g.longName == ownOption_)
            return (!g.shortName.empty() && after_.flag(g.shortName)) || early;
        return after_.flag({g.shortName, g.longName}) || early;
    }

private:
    Args &before_;
    Args &after_;
    std::string_view ownOption_;
};

}  // namespace

std::optional<std::string> commandWord(const std::vector<std::string> &tokens) {
    const std::optional<size_t> at = commandIndex(tokens);
    return at ? std::optional(tokens[*at]) : std::nullopt;
}

CommandLine parseCommandLine(std::vector<std::string> tokens) {
    CommandLine line;
    const std::optional<size_t> at = commandIndex(tokens);
    const size_t split = at.value_or(tokens.size());
    Args before(
        std::vector<std::string>(tokens.begin(), tokens.begin() + static_cast<ptrdiff_t>(split)));
    Args after(at ? std::vector<std::string>(tokens.begin() + static_cast<ptrdiff_t>(split) + 1,
                                             tokens.end())
                  : std::vector<std::string>{});
    line.command = commandWord(tokens);
    const Command *cmd = line.command ? findCommand(*line.command) : nullptr;
    Globals globals(before, after, cmd != nullptr ? cmd->ownOption : std::string_view());

    Options &o = line.options;
    for (const std::string &list : globals.values(kInterface)) {
        size_t start = 0;
        while (start <= list.size()) {
            const size_t comma = std::min(list.find(',', start), list.size());
            if (comma > start)
                o.interfaces.push_back(list.substr(start, comma - start));
            start = comma + 1;
        }
    }
    o.device = globals.value(kDevice).value_or("");
    if (std::optional<std::string> t = globals.value(kTimeout))
        o.timeout = parseSeconds(*t, "-t");
    if (std::optional<std::string> r = globals.value(kRetries))
        o.retries = static_cast<int>(parseInteger(*r, "-r", 0, 100));
    // Set in the environment rather than on the command line: it is tuned
    // for a network or a test run, not for one command.
    if (const char *grace = std::getenv("TARN_REPLY_GRACE"))
        o.grace = parseSeconds(grace, "TARN_REPLY_GRACE");
    o.user = globals.value(kUser).value_or("admin");
    o.passwordFile = globals.value(kPasswordFile).value_or("");
    o.json = globals.flag(kJson);
    line.help = globals.flag(kHelp);
    line.version = globals.flag(kVersion);

    // Command options given before the command word are the command's too.
    std::vector<std::string> rest = before.remaining();
    rest.insert(rest.end(), after.remaining().begin(), after.remaining().end());
    line.args = Args(std::move(rest));
    return line;
}

}  // namespace tarn
