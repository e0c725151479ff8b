#include "cmdline.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdlib>

#include "commands.h"
#include "errors.h"
#include "usage.h"

namespace tarn {

namespace {

using Item = Args::Item;

// An option as the parser declares it.
struct Declared {
    std::vector<std::string> names;
    std::string itemName;  // what its items are called: the long name
    bool valued;
    bool global;
};

// Short forms that usage lines leave out for brevity; the details mention them.
constexpr std::pair<std::string_view, std::string_view> kShortForms[] = {{"--yes", "-y"}};

Declared declare(const OptionSpec &o, bool global) {
    return {o.names, o.names.back(), !o.value.empty(), global};
}

bool declares(const std::vector<Declared> &options, std::string_view name) {
    return std::any_of(options.begin(), options.end(), [&](const Declared &d) {
        return std::find(d.names.begin(), d.names.end(), name) != d.names.end();
    });
}

std::vector<Declared> globalOptions() {
    std::vector<Declared> out;
    for (const OptionSpec &o : helpOptions(globalHelpText()))
        out.push_back(declare(o, true));
    return out;
}

// The global options and the command's; after its word, its own option
// takes the long name from the global one. Usage lines name global options
// too ("-d DEVICE info"); they stay global.
std::vector<Declared> commandOptions(const Command &c, const std::vector<Declared> &globals) {
    std::vector<Declared> out = globals;
    for (Declared &g : out)
        std::erase(g.names, c.ownOption);
    for (const Synopsis &s : synopses(c)) {
        for (const OptionSpec &o : s.options) {
            const std::string &name = o.names.front();
            if (declares(out, name))
                continue;
            Declared d = declare(o, false);
            for (const auto &[longName, shortName] : kShortForms)
                if (name == longName)
                    d.names.insert(d.names.begin(), std::string(shortName));
            out.push_back(std::move(d));
        }
    }
    return out;
}

// CLI11 reads "--name=" as "--name" alone and would take the next token as
// its value, and takes "--switch=true" or "--switch={}" for the bare switch.
// argv never holds a NUL, so a NUL after every attached value keeps it a
// value through the parse: never empty, never one of those two words.
std::string marked(std::string t) {
    if (t.starts_with("--") && t.find('=') != std::string::npos)
        t.push_back('\0');
    return t;
}

std::string unmarked(std::string t) {
    if (!t.empty() && t.back() == '\0')
        t.pop_back();
    return t;
}

struct Parsed {
    Item item;
    bool global;
    size_t token;  // the index of the token the item begins in
};

struct Parse {
    std::vector<Parsed> items;  // in command-line order
    size_t rest = 0;            // with stopAtWord: how many tokens follow the first argument
};

// One left-to-right pass of CLI11 over `tokens`: a declared option takes
// the token after it as its value, whatever it looks like. Everything else
// is an argument, or an unknown option when it begins with - (and stands
// before any "--"). With `stopAtWord`, the first argument ends the pass.
Parse parse(const std::vector<std::string> &tokens,
            const std::vector<Declared> &options,
            bool stopAtWord) {
    CLI::App app;
    app.set_help_flag();
    app.allow_extras();
    app.prefix_command(stopAtWord);
    // CLI11 takes the tokens from the back of `pending`, in place, and
    // keeps options and what it does not know in two lists. Each option
    // notes how many of the others came before it, to merge them, and how
    // many tokens were read by then, to know the token it was typed in.
    std::vector<std::string> pending;
    for (auto t = tokens.rbegin(); t != tokens.rend(); ++t)
        pending.push_back(marked(*t));
    struct Taken {
        Parsed parsed;
        size_t othersBefore;
        size_t read;
    };
    std::vector<Taken> taken;
    for (const Declared &d : options) {
        if (d.names.empty())
            continue;
        std::string names;
        for (const std::string &n : d.names)
            names += (names.empty() ? "" : ",") + n;
        CLI::Option *opt = d.valued ? app.add_option(names) : app.add_flag(names);
        opt->trigger_on_parse()->each([&, d](const std::string &v) {
            const size_t read = tokens.size() - pending.size();
            // A value attached to its option ("--ssid=x", "-tX") is shorter
            // than its token; one equal to the token read last stands alone.
            const std::string value = unmarked(v);
            const size_t token =
                d.valued && read >= 2 && value == tokens[read - 1] ? read - 2 : read - 1;
            const std::string &typed = tokens[token];
            // A switch given a value ("--json=x") is no option tarn knows.
            const Item item = !d.valued && v != "true"
                                  ? Item{Item::Kind::unknown, typed, "", typed}
                                  : Item{Item::Kind::option, d.itemName, value, typed};
            taken.push_back({{item, d.global && item.kind == Item::Kind::option, token},
                             app.remaining_size(),
                             read});
        });
    }
    try {
        app.parse(pending);
    } catch (const CLI::ArgumentMismatch &) {
        // Only the last token can lack its value.
        throw UsageError(tokens.back() + " needs a value.");
    }

    Parse out;
    const std::vector<std::string> others = app.remaining();
    size_t k = 0;     // into others
    size_t next = 0;  // the first token that nothing has been read from
    bool separated = false;
    for (size_t t = 0; t <= taken.size(); t++) {
        const bool last = t == taken.size();
        // Before the next option come the tokens between, each whole; but
        // first what CLI11 could not read of a group of short switches
        // ("-y5" leaves "-5"), which makes the whole group unknown.
        const size_t until = last ? others.size() : taken[t].othersBefore;
        const size_t begins = last ? tokens.size() : taken[t].parsed.token;
        const size_t whole = begins > next ? begins - next : 0;
        for (; k < until && until - k > whole; k++) {
            const size_t group = next - 1;
            while (!out.items.empty() && out.items.back().token == group)
                out.items.pop_back();
            const std::string &typed = tokens[group];
            out.items.push_back({{Item::Kind::unknown, typed, "", typed}, false, group});
        }
        for (; k < until; k++, next++) {
            const std::string word = unmarked(others[k]);
            if (word == "--" && !separated) {
                separated = true;
                continue;
            }
            const bool unknown = !separated && word.size() > 1 && word[0] == '-';
            out.items.push_back(
                {{unknown ? Item::Kind::unknown : Item::Kind::argument, word, "", word},
                 false,
                 next});
            if (stopAtWord && !unknown) {
                out.rest = others.size() - k - 1;
                return out;
            }
        }
        if (last)
            break;
        out.items.push_back(std::move(taken[t].parsed));
        next = taken[t].read;
    }
    return out;
}

std::vector<std::string> namesOf(const std::vector<Declared> &options, bool global) {
    std::vector<std::string> out;
    for (const Declared &d : options)
        if (d.global == global)
            out.insert(out.end(), d.names.begin(), d.names.end());
    return out;
}

// The global options up to the command word, then the word.
Parse parseToWord(const std::vector<std::string> &tokens, const std::vector<Declared> &globals) {
    return parse(tokens, globals, true);
}

std::optional<std::string> wordOf(const Parse &p) {
    if (p.items.empty() || p.items.back().item.kind != Item::Kind::argument)
        return std::nullopt;
    return p.items.back().item.name;
}

}  // namespace

std::optional<std::string> commandWord(const std::vector<std::string> &tokens) {
    try {
        return wordOf(parseToWord(tokens, globalOptions()));
    } catch (const UsageError &) {
        return std::nullopt;  // a global option at the end lacks its value
    }
}

CommandLine parseCommandLine(const std::vector<std::string> &tokens) {
    CommandLine line;
    // First the global options before the command word, which name the
    // command whose options the second pass knows.
    const std::vector<Declared> globalOnes = globalOptions();
    const Parse head = parseToWord(tokens, globalOnes);
    line.command = wordOf(head);
    const Command *cmd = line.command ? findCommand(*line.command) : nullptr;
    const std::vector<Declared> options = cmd ? commandOptions(*cmd, globalOnes) : globalOnes;

    std::vector<Item> globals;
    std::vector<std::string> again;  // what the first pass did not know, then the rest
    for (const Parsed &p : head.items) {
        if (p.global)
            globals.push_back(p.item);
        else if (p.item.kind == Item::Kind::unknown)
            again.push_back(p.item.typed);
    }
    again.insert(again.end(), tokens.end() - static_cast<ptrdiff_t>(head.rest), tokens.end());
    std::vector<Item> own;
    for (Parsed &p : parse(again, options, false).items)
        (p.global ? globals : own).push_back(std::move(p.item));
    line.args = Args(std::move(own), namesOf(options, false));

    Args g(std::move(globals), namesOf(globalOnes, true));
    Options &o = line.options;
    for (const std::string &list : g.values("--interface")) {
        size_t start = 0;
        while (start <= list.size()) {
            const size_t comma = std::min(list.find(',', start), list.size());
            if (comma > start)
                o.interfaces.push_back(list.substr(start, comma - start));
            start = comma + 1;
        }
    }
    o.device = g.value("--device").value_or("");
    if (std::optional<std::string> t = g.value("--timeout"))
        o.timeout = parseSeconds(*t, "-t");
    if (std::optional<std::string> r = g.value("--retries"))
        o.retries = static_cast<int>(parseInteger(*r, "-r", 0, 100));
    // Set in the environment rather than on the command line: it is tuned
    // for a network or a test run, not for one command.
    if (const char *grace = std::getenv("TARN_REPLY_GRACE"))
        o.grace = parseSeconds(grace, "TARN_REPLY_GRACE");
    o.user = g.value("--user").value_or("admin");
    o.passwordFile = g.value("--password-file").value_or("");
    o.json = g.flag("--json");
    line.help = g.flag("--help");
    line.version = g.flag("--version");
    return line;
}

}  // namespace tarn
