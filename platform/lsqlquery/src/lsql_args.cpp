#include "lsql_args.h"

#include <array>
#include <charconv>
#include <string_view>

namespace lsq {
namespace {

enum Option : unsigned { kObject = 1, kWhere = 2, kError = 4, kAfter = 8 };

struct Grammar {
    std::string_view name;
    Verb verb;
    size_t positionals;
    unsigned options;   // the options the verb accepts
    unsigned required;  // the options it cannot do without
    std::string_view usage;
};

constexpr unsigned kAddress = kObject | kWhere;
#define LSQ_ADDRESS "[--object OBJECT] [--where QKEY=QVALUE]"
constexpr std::array<Grammar, 9> kGrammar = {{
    {"get", Verb::Get, 2, kAddress, 0, "get SECTION KEY " LSQ_ADDRESS},
    {"set", Verb::Set, 3, kAddress, 0, "set SECTION KEY VALUE " LSQ_ADDRESS},
    {"unset", Verb::Unset, 2, kAddress, 0, "unset SECTION KEY " LSQ_ADDRESS},
    {"lock", Verb::Lock, 2, kAddress | kError, kError,
     "lock SECTION KEY " LSQ_ADDRESS " --error TEXT"},
    {"unlock", Verb::Unlock, 2, kAddress, 0, "unlock SECTION KEY " LSQ_ADDRESS},
    {"dump", Verb::Dump, 0, 0, 0, "dump"},
    {"load", Verb::Load, 1, 0, 0, "load FILE"},
    {"journal", Verb::Journal, 0, kAfter, 0, "journal [--after SEQ]"},
    {"reset", Verb::Reset, 0, 0, 0, "reset"},
}};
#undef LSQ_ADDRESS

struct OptionName {
    std::string_view name;
    Option option;
};
constexpr std::array<OptionName, 4> kOptions = {{
    {"--object", kObject},
    {"--where", kWhere},
    {"--error", kError},
    {"--after", kAfter},
}};

const Grammar *findVerb(std::string_view name) {
    for (const Grammar &g : kGrammar)
        if (g.name == name)
            return &g;
    return nullptr;
}

std::optional<Option> findOption(std::string_view name) {
    for (const OptionName &o : kOptions)
        if (o.name == name)
            return o.option;
    return std::nullopt;
}

bool setOption(Command &cmd, Option option, std::string_view value, std::string &fault) {
    switch (option) {
    case kObject:
        cmd.object = value;
        return true;
    case kWhere: {
        size_t eq = value.find('=');
        if (eq == std::string_view::npos || eq == 0) {
            fault = "--where needs QKEY=QVALUE";
            return false;
        }
        cmd.qkey = value.substr(0, eq);
        cmd.qvalue = value.substr(eq + 1);
        return true;
    }
    case kError:
        cmd.error = value;
        return true;
    case kAfter: {
        auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), cmd.after);
        if (ec != std::errc() || end != value.data() + value.size() || cmd.after < 0) {
            fault = "--after needs a sequence number";
            return false;
        }
        return true;
    }
    }
    return false;
}

}  // namespace

std::optional<Command> parseCommand(std::span<const char *const> args, std::string &fault) {
    if (args.empty()) {
        fault = "usage: lsql get|set|unset|lock|unlock|dump|load|journal|reset ...";
        return std::nullopt;
    }
    const Grammar *g = findVerb(args[0]);
    if (!g) {
        fault = "unknown command: " + std::string(args[0]);
        return std::nullopt;
    }
    Command cmd;
    cmd.verb = g->verb;
    unsigned seen = 0;
    for (size_t i = 1; i < args.size(); ++i) {
        std::string_view arg = args[i];
        std::optional<Option> option = arg.starts_with("--") ? findOption(arg) : std::nullopt;
        if (arg.starts_with("--") && (!option || !(g->options & *option))) {
            fault = std::string(g->name) + ": unknown option " + std::string(arg);
            return std::nullopt;
        }
        if (!option) {
            cmd.args.emplace_back(arg);
            continue;
        }
        if (++i == args.size()) {
            fault = std::string(arg) + " needs a value";
            return std::nullopt;
        }
        if (!setOption(cmd, *option, args[i], fault))
            return std::nullopt;
        seen |= *option;
    }
    if (cmd.args.size() != g->positionals || (seen & g->required) != g->required) {
        fault = "usage: lsql " + std::string(g->usage);
        return std::nullopt;
    }
    return cmd;
}

}  // namespace lsq
