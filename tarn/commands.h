// The subcommands of tarn and what they share.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "args.h"
#include "output.h"
#include "session.h"

namespace tarn {

struct Command {
    std::string_view name;
    std::string_view usage;    // the synopsis after "tarn [options] "
    std::string_view summary;  // one line for tarn --help
    std::string_view details;  // the rest of tarn NAME --help
    int (*run)(Session &, Args &);
    // A global option's long form that is the command's own after its
    // command word (listen: --timeout, how long it runs; ddns: --user, the
    // account's); the global one is then given short or before the word.
    std::string_view ownOption = {};
};

std::span<const Command> commandTable();
const Command *findCommand(std::string_view name);
void printGlobalHelp();
// The usage lines and global options that printGlobalHelp starts with.
std::string_view globalHelpText();
void printCommandHelp(const Command &c);

// ---- Output shared by the commands -------------------------------------------

// A record as JSON or as aligned lines, after a human sentence. JSON
// objects without a "mac" get the target's.
void emit(Session &s, const std::string &sentence, const Record &record);
// A list as a JSON array or a table.
void emitList(Session &s, const std::vector<Record> &records, const std::vector<Column> &columns);

// "02:00:00:00:00:01 (lobby, 192.0.2.11)" for questions and sentences.
std::string deviceLabel(const Found &f);
// Before a change that cannot be undone: asks "question [y/N]" when standard
// input is a terminal and `yes` is false; anything but y or yes ends the
// command with exit status 1. Without a terminal it goes ahead.
void confirm(bool yes, const std::string &question);
// A progress line on standard error: rewritten in place on a terminal.
void progress(const std::string &line);
void endProgress();

// One of the two actions of a command such as "tarn wlan get|set".
struct Action {
    std::string_view name;
    int (*run)(Session &, Args &);
};
// Takes the action word and runs that action; a missing or unknown word is
// a usage error that names both actions.
int runAction(Session &s,
              Args &a,
              std::string_view command,
              const Action &first,
              const Action &second);

// Refuses a text longer than the device field it goes into.
void checkWidth(const std::string &value, size_t width, std::string_view what);

// A static address the device would apply: a contiguous mask, and a gateway
// (0.0.0.0 for none) on the address's own subnet; else a UsageError.
void checkStaticAddress(const BasicInfo &b);

// The 32-bit result of an acknowledging reply; non-zero is a refusal.
void expectResultZero(const Reply &reply, const std::string &what);

// ---- The commands -------------------------------------------------------------

int cmdHelp(Session &s, Args &a);
int cmdDiscover(Session &s, Args &a);
int cmdInfo(Session &s, Args &a);
int cmdNeighbor(Session &s, Args &a);
int cmdOps(Session &s, Args &a);
int cmdListen(Session &s, Args &a);
int cmdWatch(Session &s, Args &a);
int cmdSet(Session &s, Args &a);
int cmdVerify(Session &s, Args &a);
int cmdPasswd(Session &s, Args &a);
int cmdDdns(Session &s, Args &a);
int cmdCommit(Session &s, Args &a);
int cmdFactoryReset(Session &s, Args &a);
int cmdNetstatus(Session &s, Args &a);
int cmdTime(Session &s, Args &a);
int cmdVlan(Session &s, Args &a);
int cmdSnmp(Session &s, Args &a);
int cmdWlan(Session &s, Args &a);
int cmdFirmware(Session &s, Args &a);
int cmdConfig(Session &s, Args &a);
int cmdReboot(Session &s, Args &a);
int cmdExport(Session &s, Args &a);
int cmdPlan(Session &s, Args &a);
int cmdApply(Session &s, Args &a);
int cmdLint(Session &s, Args &a);
int cmdRollout(Session &s, Args &a);
int cmdBackup(Session &s, Args &a);
int cmdRestore(Session &s, Args &a);

}  // namespace tarn
