// Shell completion: `tarn __complete WORD...` prints what may stand in the
// last word. The bash and zsh scripts (completion/) only hand the words
// over, so commands, options and their values come from the same command
// table and help text that `tarn --help` prints.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarn {

struct Completion {
    bool files = false;  // the shell completes file names itself
    // "word" or "word<TAB>description", already matching the last word.
    std::vector<std::string> candidates;
};

// `words` are the arguments after "tarn", the last one being completed
// (possibly empty); `globalHelp` is the option list of tarn --help.
Completion complete(std::string_view globalHelp, std::span<const std::string> words);

// Prints a Completion: "files" or "words", then one candidate a line.
int printCompletion(const Completion &c);

}  // namespace tarn
