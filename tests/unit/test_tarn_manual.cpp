// The manual page against the utility: the tag of every command holds the
// options of its usage line, and JSON KEYS covers every command.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "commands.h"

using namespace tarn;

namespace {

std::string sourcePath(const std::string &file) {
    const char *source = std::getenv("TARN_SOURCE");
    return std::string(source ? source : ".") + file;
}

std::vector<std::string> manualLines() {
    std::ifstream in(sourcePath("/tarn/tarn.1"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// A tag as the reader sees it: fonts dropped, escaped hyphens and spaces plain.
std::string plain(std::string roff) {
    roff = std::regex_replace(roff, std::regex(R"(\\f[BIRP]|"|^\.(B|BR|BI|I|IR|RB)\s+)"), "");
    return std::regex_replace(roff, std::regex(R"(\\([- ]))"), "$1");
}

// The tags of each .TP entry of a section (a .TP line's next line and the
// next line of each .TQ that follows it), keyed by the entry's first word.
std::map<std::string, std::string> sectionTags(const std::vector<std::string> &lines,
                                               const std::string &section) {
    std::map<std::string, std::string> tags;
    bool inside = false;
    std::string current;
    for (size_t i = 0; i + 1 < lines.size(); i++) {
        if (lines[i].starts_with(".SH"))
            inside = lines[i] == ".SH " + section;
        if (!inside)
            continue;
        if (lines[i] == ".TP") {
            const std::string tag = plain(lines[i + 1]);
            current = tag.substr(0, tag.find_first_of(" ,"));
            tags[current] += " " + tag;
        } else if (lines[i] == ".TQ" && !current.empty()) {
            tags[current] += " " + plain(lines[i + 1]);
        }
    }
    return tags;
}

}  // namespace

TEST(TarnManual, EveryCommandHasItsOptionsInItsTagAndItsJsonKeys) {
    const std::vector<std::string> lines = manualLines();
    ASSERT_FALSE(lines.empty()) << sourcePath("/tarn/tarn.1");
    const std::map<std::string, std::string> commands = sectionTags(lines, "COMMANDS");
    std::set<std::string> documented;
    const std::regex word(R"([a-z-]+)");
    for (const auto &[first, tag] : sectionTags(lines, "JSON KEYS"))
        for (std::sregex_iterator m(tag.begin(), tag.end(), word), end; m != end; ++m)
            documented.insert(m->str());
    const std::regex option(R"(--[a-z0-9-]+)");
    for (const Command &c : commandTable()) {
        const std::string name(c.name);
        if (!commands.count(name)) {
            ADD_FAILURE() << name << " is not under COMMANDS";
            continue;
        }
        const std::string usage(c.usage);
        for (std::sregex_iterator m(usage.begin(), usage.end(), option), end; m != end; ++m)
            EXPECT_NE(commands.at(name).find(m->str()), std::string::npos)
                << name << ": " << m->str() << " is not in the tag \"" << commands.at(name) << "\"";
        if (name != "help") {  // prints no JSON
            EXPECT_TRUE(documented.count(name)) << name << " is not under JSON KEYS";
        }
    }
    // SEE ALSO names the project's other pages, and they are written.
    const std::map<std::string, std::string> pages{{"tarnd (8)", "/tarnd/tarnd.8"},
                                                   {"lsql (1)", "/platform/lsqlquery/lsql.1"}};
    for (const auto &[page, file] : pages) {
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string &line) {
            return plain(line).starts_with(page);
        })) << page;
        EXPECT_TRUE(std::ifstream(sourcePath(file)).good()) << file;
    }
}
