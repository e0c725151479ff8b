// The settings database: one SQLite connection with its prepared
// statements. Used by the library (lsqlquery.cpp), the lsql tool and the
// unit-test helper; every writer bumps the shared change counter after its
// transaction commits.
//
// Tables: settings (one row per section/object/qualifier/key), locks (an
// error text per address) and journal (one row per library write, SEQ
// rising by one). The journal is a ring: each write drops the rows more
// than $LSQLQUERY_JOURNAL_ROWS (default 10,000) behind it.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "change_counter.h"
#include "setting.h"

struct sqlite3;
struct sqlite3_stmt;

namespace lsq {

// $LSQLQUERY_DB, or /var/lib/lsqlquery/settings.db when it is unset or empty.
std::string databasePath();

class Store {
public:
    // Opens the database at `path`, creating it (empty) and its folder when
    // missing. Null with a text naming the path in `error` when it cannot.
    static std::unique_ptr<Store> open(const std::string &path, std::string &error);

    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;
    ~Store();

    const std::string &path() const { return path_; }
    const ChangeCounter &changes() const { return changes_; }
    // The last database failure, naming the path.
    const std::string &lastError() const { return error_; }

    // Reads the value at `a` into `value` (nothing when there is none);
    // false on a database failure.
    bool get(const Address &a, std::optional<std::string> &value);

    // A journaled write as the library makes it: refused with the lock's
    // text when `a` is locked; a qualified write also stores the qualifier
    // as a setting of its object. Nothing on success, else the error text.
    std::optional<std::string> write(const Address &a,
                                     std::string_view value,
                                     std::string_view writer);

    // Unjournaled merge that ignores locks, in one transaction (load, tests);
    // like write(), a qualified setting also stores its qualifier.
    bool put(std::span<const Setting> settings);
    // Removes the setting at `a`, if there is one.
    bool unset(const Address &a);
    bool lock(const Address &a, std::string_view error);
    bool unlock(const Address &a);
    // Deletes every setting, lock and journal entry.
    bool reset();

    bool dump(std::vector<Setting> &out);
    bool journal(int64_t after, std::vector<JournalEntry> &out);

    enum class Sql : unsigned;

private:
    Store(sqlite3 *db, std::string path);
    // The prepared statement of `q`, reset and ready to bind; null on failure.
    sqlite3_stmt *statement(Sql q);
    bool step(sqlite3_stmt *st);
    // Steps a query of at most one row: its first column into `text` when
    // there is a row, `text` untouched when there is none.
    bool stepText(sqlite3_stmt *st, std::optional<std::string> &text);
    // Runs `q` with the address as ?1..?5 and `text` as ?6, when given.
    bool exec(Sql q, const Address *a = nullptr, std::optional<std::string_view> text = {});
    bool storeSetting(const Address &a, std::string_view value);
    bool fail();
    bool finish(bool ok);
    bool writeLocked(const Address &a,
                     std::string_view value,
                     std::string_view writer,
                     std::optional<std::string> &refusal);
    bool journalWrite(const Address &a,
                      std::string_view value,
                      std::string_view writer,
                      std::string_view result);

    sqlite3 *db_;
    std::string path_;
    std::string error_;
    ChangeCounter changes_;
    int64_t journalRows_;  // the journal's ring size
    std::array<sqlite3_stmt *, 17> stmts_{};
};

}  // namespace lsq
