// The command line of lsql:
//
//   lsql get    SECTION KEY [--object OBJECT] [--where QKEY=QVALUE]
//   lsql set    SECTION KEY VALUE [--object OBJECT] [--where QKEY=QVALUE]
//   lsql unset  SECTION KEY [--object OBJECT] [--where QKEY=QVALUE]
//   lsql lock   SECTION KEY [--object OBJECT] [--where QKEY=QVALUE] --error TEXT
//   lsql unlock SECTION KEY [--object OBJECT] [--where QKEY=QVALUE]
//   lsql dump
//   lsql load FILE            (FILE "-" is standard input)
//   lsql journal [--after SEQ]
//   lsql reset
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lsq {

enum class Verb { Get, Set, Unset, Lock, Unlock, Dump, Load, Journal, Reset };

struct Command {
    Verb verb = Verb::Dump;
    std::vector<std::string> args;  // the positional arguments after the verb
    std::string object;
    std::string qkey;
    std::string qvalue;
    std::string error;  // lock's --error
    int64_t after = 0;  // journal's --after
};

// The command that `args` (argv without the program name) asks for, or
// nothing with a one-line description of the fault in `fault`.
std::optional<Command> parseCommand(std::span<const char *const> args, std::string &fault);

}  // namespace lsq
