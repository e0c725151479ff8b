#include "completion.h"

#include <net/if.h>

#include <algorithm>
#include <cstdio>
#include <optional>

#include "commands.h"
#include "device_cache.h"
#include "security.h"
#include "usage.h"

namespace tarn {

namespace {

std::vector<std::string> interfaceNames() {
    std::vector<std::string> out;
    if (struct if_nameindex *list = if_nameindex()) {
        for (const struct if_nameindex *i = list; i->if_index != 0; i++)
            out.push_back(i->if_name);
        if_freenameindex(list);
    }
    return out;
}

bool named(const OptionSpec &o, std::string_view name) {
    return std::find(o.names.begin(), o.names.end(), name) != o.names.end();
}

// The values an option takes, with descriptions where there are any.
Completion valuesOf(const OptionSpec &o) {
    Completion c;
    if (o.value == "F" || o.value == "FILE" || o.value == "IMAGE" || o.value == "DIR") {
        c.files = true;
    } else if (named(o, "--device")) {
        for (const CachedDevice &d : readDeviceCache())
            c.candidates.push_back(d.mac + '\t' + d.ipv4 + ' ' + d.name);
    } else if (named(o, "--interface")) {
        c.candidates = interfaceNames();
    } else if (named(o, "--security")) {
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
        if (named(o, name))
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
            out.candidates.insert(out.candidates.end(), o.names.begin(), o.names.end());
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
