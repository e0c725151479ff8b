// Each unit-test program's own settings database in a temporary folder:
// LSQLQUERY_DB names it before the library opens its one connection, and the
// folder is removed at exit. set() is not journaled, so the journal holds only
// the writes of the code under test.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "setting.h"

class TempStore {
public:
    // The database file, as LSQLQUERY_DB names it.
    const std::string &path() const;

    void set(const char *section, const char *key, const char *value, const char *object = nullptr);
    // set() of each "section.key=value" or "section.object.key=value".
    void seed(const std::vector<std::string> &settings);
    std::optional<std::string> get(const char *section,
                                   const char *key,
                                   const char *object = nullptr,
                                   const char *qualKey = nullptr,
                                   const char *qualValue = nullptr);
    // Every journal entry, oldest first.
    std::vector<lsq::JournalEntry> journal();
    // The writes journaled since the last call or clear(), oldest first, as
    // "section.key=value" with ".object" and "[QKEY=QVALUE]" after the section
    // when the write names them.
    std::vector<std::string> takeWrites();
    // Library writes to the setting then fail with `error` as their text.
    void lock(const char *section,
              const char *key,
              const char *error,
              const char *object = nullptr,
              const char *qualKey = nullptr,
              const char *qualValue = nullptr);
    // Deletes every setting, lock and journal entry.
    void clear();
};

// The program's store.
TempStore &store();

// A test that starts with an empty store.
class StoreTest : public ::testing::Test {
protected:
    void SetUp() override { store().clear(); }
};
