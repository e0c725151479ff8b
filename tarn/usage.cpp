#include "usage.h"

#include <algorithm>

namespace tarn {

namespace {

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
        // Brackets mark what is optional, parentheses a choice that is not.
        t.erase(std::remove_if(t.begin(), t.end(),
                               [](char c) { return c == '[' || c == ']' || c == '(' || c == ')'; }),
                t.end());
        if (!t.empty() && t.back() == ',')
            t.pop_back();
        if (!t.empty())
            out.push_back(t);
    }
    return out;
}

// "--http|--tftp SERVER": alternatives, each an option of its own.
void addOptions(const std::vector<std::string> &toks, std::vector<OptionSpec> &out) {
    for (size_t i = 0; i < toks.size(); i++) {
        if (!isOption(toks[i]))
            continue;
        const bool valued = i + 1 < toks.size() && !isOption(toks[i + 1]) && toks[i + 1] != "|";
        for (std::string &name : split(toks[i], '|'))
            out.push_back({{std::move(name)}, valued ? toks[i + 1] : ""});
    }
}

}  // namespace

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

bool isLiteral(const std::string &t) {
    return !t.empty() && !isOption(t) && t != "|" &&
           std::none_of(t.begin(), t.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

std::vector<OptionSpec> helpOptions(std::string_view help) {
    std::vector<OptionSpec> out;
    for (const std::string &line : split(std::string(help), '\n')) {
        // "  -i, --interface IFACE  use this interface": the names of one
        // option and its value, then two spaces.
        if (!line.starts_with("  -"))
            continue;
        OptionSpec o;
        for (std::string &t : tokens(line.substr(2, line.find("  ", 2) - 2)))
            (isOption(t) ? o.names.emplace_back() : o.value) = std::move(t);
        out.push_back(std::move(o));
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

}  // namespace tarn
