#include "completion.h"

#include <net/if.h>

#include <algorithm>
#include <cstdio>
#include <optional>

#include "commands.h"
#include "device_cache.h"
#include "security.h"

namespace tarn {

namespace {

// An option as a synopsis shows it: "--radio 2.4|5", "[--show-keys]",
// "--http|--tftp SERVER FILE". `value` is empty for a switch.
struct OptionSpec {
    std::string name;
    std::string value;
};

// One line of a command's usage: "wlan get --radio 2.4|5 [--show-keys]".
struct Synopsis {
    std::vector<std::string> words;  // literal alternatives after the command: "get", "on", "off"
    std::vector<OptionSpec> options;
};

std::vector<std::string> tokens(std::string_view text) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\n'))
            i++;
        const size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\n')
            i++;
        std::string t(text.substr(start, i - start));
        t.erase(std::remove_if(t.begin(), t.end(), [](char c) { return c == '[' || c == ']'; }),
                t.end());
        if (!t.empty() && t.back() == ',')
            t.pop_back();
        if (!t.empty())
            out.push_back(t);
    }
    return out;
}

std::vector<std::string> split(const std::string &text, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t at; (at = text.find(sep, start)) != std::string::npos; start = at + 1)
        out.push_back(text.substr(start, at - start));
    out.push_back(text.substr(start));
    return out;
}

bool isOption(const std::string &t) {
    return t.size() > 1 && t[0] == '-';
}

// Lower-case words and numbers ("get", "2.4", "now") are typed as they
// are; anything with a capital ("DEVICE", "YYYYMMDDhhmmss") is a placeholder.
bool isLiteral(const std::string &t) {
    return !t.empty() && !isOption(t) && t != "|" &&
           std::none_of(t.begin(), t.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

void addOptions(const std::vector<std::string> &toks, std::vector<OptionSpec> &out) {
    for (size_t i = 0; i < toks.size(); i++) {
        if (!isOption(toks[i]))
            continue;
        const bool valued = i + 1 < toks.size() && !isOption(toks[i + 1]) && toks[i + 1] != "|";
        for (const std::string &name : split(toks[i], '|'))
            out.push_back({name, valued ? toks[i + 1] : ""});
    }
}

std::vector<OptionSpec> helpOptions(std::string_view help) {
    std::vector<OptionSpec> out;
    for (const std::string &line : split(std::string(help), '\n')) {
        // "  -i, --interface IFACE  use this interface": the option and its
        // long name, then two spaces. The names become one "-i|--interface".
        if (!line.starts_with("  -"))
            continue;
        const size_t gap = line.find("  ", 2);
        std::string names = line.substr(2, gap - 2);
        for (size_t comma; (comma = names.find(", -")) != std::string::npos;)
            names.replace(comma, 2, "|");
        addOptions(tokens(names), out);
    }
    return out;
}

std::vector<Synopsis> synopses(const Command &c) {
    std::vector<Synopsis> out;
    for (const std::string &line : split(std::string(c.usage), '\n')) {
        std::vector<std::string> toks = tokens(line);
        const auto name = std::find(toks.begin(), toks.end(), c.name);
        if (name == toks.end()) {  // continues the line before
            if (!out.empty())
                addOptions(toks, out.back().options);
            continue;
        }
        Synopsis s;
        if (name + 1 != toks.end() && isLiteral(*(name + 1)))
            s.words = split(*(name + 1), '|');
        addOptions(toks, s.options);
        out.push_back(std::move(s));
    }
    return out;
}

std::vector<std::string> interfaceNames() {
    std::vector<std::string> out;
    if (struct if_nameindex *list = if_nameindex()) {
        for (const struct if_nameindex *i = list; i->if_index != 0; i++)
            out.push_back(i->if_name);
        if_freenameindex(list);
    }
    return out;
}

// The values an option takes, with descriptions where there are any.
Completion valuesOf(const OptionSpec &o) {
    Completion c;
    if (o.value == "F" || o.value == "FILE" || o.value == "IMAGE" || o.value == "DIR") {
        c.files = true;
    } else if (o.name == "-d" || o.name == "--device") {
        for (const CachedDevice &d : readDeviceCache())
            c.candidates.push_back(d.mac + '\t' + d.ipv4 + ' ' + d.name);
    } else if (o.name == "-i" || o.name == "--interface") {
        c.candidates = interfaceNames();
    } else if (o.name == "--security") {
        for (const std::string &name : split(securityNames(), ','))
            c.candidates.push_back(name.substr(name.find_first_not_of(' ')));
    } else {
        for (const std::string &v : split(o.value, '|'))
            if (isLiteral(v))
                c.candidates.push_back(v);
    }
    return c;
}

const OptionSpec *findOption(const std::vector<OptionSpec> &options, std::string_view name) {
    for (const OptionSpec &o : options)
        if (o.name == name)
            return &o;
    return nullptr;
}

void keepMatching(Completion &c, std::string_view prefix) {
    std::vector<std::string> kept;
    for (std::string &w : c.candidates)
        if (w.starts_with(prefix) && std::find(kept.begin(), kept.end(), w) == kept.end())
            kept.push_back(std::move(w));
    c.candidates = std::move(kept);
}

}  // namespace

Completion complete(std::string_view globalHelp, std::span<const std::string> words) {
    const std::string current = words.empty() ? "" : words.back();
    const std::vector<OptionSpec> globals = helpOptions(globalHelp);

    // Every option a command knows, so that its value is skipped wherever
    // it stands, before or after the command.
    std::vector<OptionSpec> known = globals;
    for (const Command &c : commandTable())
        for (const Synopsis &s : synopses(c))
            known.insert(known.end(), s.options.begin(), s.options.end());

    const Command *command = nullptr;
    std::vector<Synopsis> forms;
    std::optional<size_t> form;  // the synopsis whose word was given
    const OptionSpec *pending = nullptr;
    for (size_t i = 0; i + 1 < words.size(); i++) {
        const std::string &w = words[i];
        if (pending) {
            pending = nullptr;
        } else if (isOption(w)) {
            const OptionSpec *o = findOption(known, w);
            pending = o && !o->value.empty() ? o : nullptr;
        } else if (!command) {
            command = findCommand(w);
            if (!command)
                return {};
            forms = synopses(*command);
        } else if (!form) {
            for (size_t k = 0; k < forms.size(); k++)
                if (std::find(forms[k].words.begin(), forms[k].words.end(), w) !=
                    forms[k].words.end())
                    form = k;
        }
    }

    Completion out;
    const size_t eq = current.find('=');
    if (pending) {
        out = valuesOf(*pending);
    } else if (current.starts_with("--") && eq != std::string::npos) {
        if (const OptionSpec *o = findOption(known, current.substr(0, eq)); o && !o->value.empty())
            out = valuesOf(*o);
        for (std::string &w : out.candidates)
            w.insert(0, current.substr(0, eq + 1));
    } else if (!command && !current.starts_with('-')) {
        for (const Command &c : commandTable())
            out.candidates.push_back(std::string(c.name) + '\t' + std::string(c.summary));
    } else if (command && !form && !current.starts_with('-') &&
               std::any_of(forms.begin(), forms.end(),
                           [](const Synopsis &s) { return !s.words.empty(); })) {
        for (const Synopsis &s : forms)
            out.candidates.insert(out.candidates.end(), s.words.begin(), s.words.end());
    } else {
        std::vector<OptionSpec> options = globals;
        for (size_t k = 0; k < forms.size(); k++)
            if (!form || *form == k)
                options.insert(options.end(), forms[k].options.begin(), forms[k].options.end());
        for (const OptionSpec &o : options)
            out.candidates.push_back(o.name);
    }
    keepMatching(out, current);
    return out;
}

int printCompletion(const Completion &c) {
    std::printf("%s\n", c.files ? "files" : "words");
    for (const std::string &w : c.candidates)
        std::printf("%s\n", w.c_str());
    return 0;
}

}  // namespace tarn
