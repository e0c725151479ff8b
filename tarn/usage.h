// The options that the help documents, read from the command table's usage
// lines and the option list of tarn --help: the parser declares them and the
// shell completion offers them, so both follow what the help says.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "commands.h"

namespace tarn {

// An option as the help shows it: "-i, --interface IFACE" (two names of
// one option), "--radio 2.4|5", "[--show-keys]". `value` is the placeholder
// of its value, empty for a switch.
struct OptionSpec {
    std::vector<std::string> names;
    std::string value;
};

// One line of a command's usage: "wlan get --radio 2.4|5 [--show-keys]".
// Alternatives ("--http|--tftp SERVER") are separate options.
struct Synopsis {
    std::vector<std::string> words;  // literal alternatives after the command: "get", "on", "off"
    std::vector<OptionSpec> options;
};

std::vector<Synopsis> synopses(const Command &c);
// The options of an option list such as tarn --help's.
std::vector<OptionSpec> helpOptions(std::string_view help);

std::vector<std::string> split(const std::string &text, char sep);
bool isOption(const std::string &t);
// Lower-case words and numbers ("get", "2.4", "now") are typed as they
// are; anything with a capital ("DEVICE", "YYYYMMDDhhmmss") is a placeholder.
bool isLiteral(const std::string &t);

}  // namespace tarn
