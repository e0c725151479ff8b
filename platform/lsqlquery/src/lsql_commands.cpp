#include "lsql_commands.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iostream>

#include "record_format.h"
#include "store.h"

namespace lsq {
namespace {

constexpr int kDone = 0;
constexpr int kNothing = 1;
constexpr int kFailure = 2;

int failure(const std::string &text) {
    std::fprintf(stderr, "lsql: %s\n", text.c_str());
    return kFailure;
}

Address addressOf(const Command &cmd) {
    return {cmd.args[0], cmd.object, cmd.qkey, cmd.qvalue, cmd.args[1]};
}

int get(Store &store, const Command &cmd) {
    std::optional<std::string> value;
    if (!store.get(addressOf(cmd), value))
        return failure(store.lastError());
    if (!value)
        return kNothing;
    std::printf("%s\n", value->c_str());
    return kDone;
}

// The same journaled write the library makes, so the journal names "lsql".
int set(Store &store, const Command &cmd) {
    std::optional<std::string> refusal =
        store.write(addressOf(cmd), cmd.args[2], program_invocation_short_name);
    if (!refusal)
        return kDone;
    std::fprintf(stderr, "lsql: %s\n", refusal->c_str());
    return kNothing;
}

int done(Store &store, bool ok) {
    return ok ? kDone : failure(store.lastError());
}

// Removing a setting that is not there is no error: the store ends the same.
int unset(Store &store, const Command &cmd) {
    return done(store, store.unset(addressOf(cmd)));
}

int dump(Store &store) {
    std::vector<Setting> settings;
    if (!store.dump(settings))
        return failure(store.lastError());
    for (const Setting &s : settings)
        std::printf("%s\n", formatDumpLine(s).c_str());
    return kDone;
}

int journal(Store &store, const Command &cmd) {
    std::vector<JournalEntry> entries;
    if (!store.journal(cmd.after, entries))
        return failure(store.lastError());
    for (const JournalEntry &e : entries)
        std::printf("%s\n", formatJournalLine(e).c_str());
    return kDone;
}

// Reads every setting of a dump; blank lines and lines starting with '#'
// are comments. The first malformed line stops the load before any write.
bool readDump(std::istream &in,
              const std::string &name,
              std::vector<Setting> &out,
              std::string &fault) {
    std::string line;
    for (size_t number = 1; std::getline(in, line); ++number) {
        if (line.empty() || line.front() == '#')
            continue;
        Setting s;
        if (!parseDumpLine(line, s, fault)) {
            // NOLINTNEXTLINE(performance-inefficient-string-concatenation): once, on the error path
            fault = name + ":" + std::to_string(number) + ": " + fault;
            return false;
        }
        out.push_back(std::move(s));
    }
    return true;
}

int load(Store &store, const Command &cmd) {
    const std::string &name = cmd.args[0];
    std::ifstream file;
    if (name != "-") {
        file.open(name);
        if (!file)
            return failure("cannot read " + name);
    }
    std::vector<Setting> settings;
    std::string fault;
    if (!readDump(name == "-" ? std::cin : file, name, settings, fault))
        return failure(fault);
    return done(store, store.put(settings));
}

}  // namespace

int runCommand(const Command &cmd) {
    std::string error;
    std::unique_ptr<Store> store = Store::open(databasePath(), error);
    if (!store)
        return failure(error);
    switch (cmd.verb) {
    case Verb::Get:
        return get(*store, cmd);
    case Verb::Set:
        return set(*store, cmd);
    case Verb::Unset:
        return unset(*store, cmd);
    case Verb::Lock:
        return done(*store, store->lock(addressOf(cmd), cmd.error));
    case Verb::Unlock:
        return done(*store, store->unlock(addressOf(cmd)));
    case Verb::Dump:
        return dump(*store);
    case Verb::Load:
        return load(*store, cmd);
    case Verb::Journal:
        return journal(*store, cmd);
    case Verb::Reset:
        return done(*store, store->reset());
    }
    return kFailure;
}

}  // namespace lsq
