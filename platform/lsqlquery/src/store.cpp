#include "store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace lsq {

enum class Store::Sql : unsigned {
    Begin,
    Commit,
    Rollback,
    Get,
    LockError,
    Upsert,
    AddQualifier,
    JournalAdd,
    Unset,
    Lock,
    Unlock,
    Dump,
    Journal,
    ResetSettings,
    ResetLocks,
    ResetJournal,
    JournalTrim,
};

namespace {

constexpr const char *kDefaultPath = "/var/lib/lsqlquery/settings.db";
constexpr int kBusyTimeoutMs = 5000;

// The page cache is per connection and every process on an access point
// keeps one: 128 KiB holds the whole settings table, where SQLite's default
// of 2 MB would only grow the daemon's private memory with journal pages.
constexpr const char *kSchema =
    "PRAGMA journal_mode=WAL;"
    "PRAGMA synchronous=NORMAL;"
    "PRAGMA cache_size=-128;"
    "CREATE TABLE IF NOT EXISTS settings(section TEXT NOT NULL, object TEXT NOT NULL,"
    " qkey TEXT NOT NULL, qvalue TEXT NOT NULL, key TEXT NOT NULL, value TEXT NOT NULL,"
    " PRIMARY KEY(section, object, qkey, qvalue, key)) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS locks(section TEXT NOT NULL, object TEXT NOT NULL,"
    " qkey TEXT NOT NULL, qvalue TEXT NOT NULL, key TEXT NOT NULL, error TEXT NOT NULL,"
    " PRIMARY KEY(section, object, qkey, qvalue, key)) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS journal(seq INTEGER PRIMARY KEY, writer TEXT NOT NULL,"
    " section TEXT NOT NULL, object TEXT NOT NULL, qkey TEXT NOT NULL, qvalue TEXT NOT NULL,"
    " key TEXT NOT NULL, value TEXT NOT NULL, result TEXT NOT NULL);";

// Every address-taking statement binds the address as ?1..?5.
#define LSQ_WHERE "section=?1 AND object=?2 AND qkey=?3 AND qvalue=?4 AND key=?5"
constexpr std::array<const char *, 17> kSql = {
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "SELECT value FROM settings WHERE " LSQ_WHERE,
    "SELECT error FROM locks WHERE " LSQ_WHERE,
    "INSERT INTO settings VALUES(?1, ?2, ?3, ?4, ?5, ?6)"
    " ON CONFLICT DO UPDATE SET value=excluded.value",
    "INSERT OR IGNORE INTO settings VALUES(?1, ?2, ?3, ?4, ?3, ?4)",
    "INSERT INTO journal(section, object, qkey, qvalue, key, value, writer, result)"
    " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)",
    "DELETE FROM settings WHERE " LSQ_WHERE,
    "INSERT INTO locks VALUES(?1, ?2, ?3, ?4, ?5, ?6) ON CONFLICT DO UPDATE SET "
    "error=excluded.error",
    "DELETE FROM locks WHERE " LSQ_WHERE,
    "SELECT section, object, qkey, qvalue, key, value FROM settings"
    " ORDER BY section, object, qkey, qvalue, key",
    "SELECT seq, writer, section, object, qkey, qvalue, key, value, result FROM journal"
    " WHERE seq > ?1 ORDER BY seq",
    "DELETE FROM settings",
    "DELETE FROM locks",
    "DELETE FROM journal",
    "DELETE FROM journal WHERE seq <= last_insert_rowid() - ?1",
};
#undef LSQ_WHERE

void bindText(sqlite3_stmt *st, int index, std::string_view text) {
    sqlite3_bind_text(st, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void bindAddress(sqlite3_stmt *st, const Address &a) {
    bindText(st, 1, a.section);
    bindText(st, 2, a.object);
    bindText(st, 3, a.qkey);
    bindText(st, 4, a.qvalue);
    bindText(st, 5, a.key);
}

std::string column(sqlite3_stmt *st, int index) {
    const unsigned char *text = sqlite3_column_text(st, index);
    return text ? std::string(reinterpret_cast<const char *>(text),
                              static_cast<size_t>(sqlite3_column_bytes(st, index)))
                : std::string();
}

Setting settingColumns(sqlite3_stmt *st, int first) {
    return {column(st, first),     column(st, first + 1), column(st, first + 2),
            column(st, first + 3), column(st, first + 4), column(st, first + 5)};
}

// The journal keeps the newest rows only, so that a flood of writes cannot
// fill the device's flash.
constexpr int64_t kDefaultJournalRows = 10000;

int64_t journalRowsLimit() {
    const char *env = std::getenv("LSQLQUERY_JOURNAL_ROWS");
    if (!env || !*env)
        return kDefaultJournalRows;
    char *end = nullptr;
    const long long rows = std::strtoll(env, &end, 10);
    return *end == '\0' && rows > 0 ? rows : kDefaultJournalRows;
}

// Settings include the administrator's password hash and the wireless
// keys: the database is created readable by its owner alone. SQLite gives
// its WAL and shared-memory files the database file's mode. An existing
// file is never opened here: closing any descriptor of it would drop the
// POSIX locks that another connection of this process holds on it.
bool createPrivate(const std::string &path, std::string &reason) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0 && errno != EEXIST) {
        reason = std::strerror(errno);
        return false;
    }
    if (fd >= 0)
        ::close(fd);
    return true;
}

std::string openError(const std::string &path, std::string_view reason) {
    return "cannot open settings database " + path + ": " + std::string(reason);
}

}  // namespace

std::string databasePath() {
    const char *env = std::getenv("LSQLQUERY_DB");
    return env && *env ? env : kDefaultPath;
}

std::unique_ptr<Store> Store::open(const std::string &path, std::string &error) {
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code ec;
    if (!folder.empty())
        std::filesystem::create_directories(folder, ec);
    if (ec) {
        error = openError(path, ec.message());
        return nullptr;
    }
    std::string reason;
    if (!createPrivate(path, reason)) {
        error = openError(path, reason);
        return nullptr;
    }
    sqlite3 *db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                             nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        rc = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
    }
    if (rc != SQLITE_OK) {
        error = openError(path, db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
        sqlite3_close_v2(db);
        return nullptr;
    }
    std::unique_ptr<Store> store(new Store(db, path));
    // Without the counter the store still works; readers then cannot cache.
    store->changes_.open(path);
    return store;
}

Store::Store(sqlite3 *db, std::string path)
    : db_(db), path_(std::move(path)), journalRows_(journalRowsLimit()) {}

Store::~Store() {
    for (sqlite3_stmt *st : stmts_)
        sqlite3_finalize(st);
    sqlite3_close_v2(db_);
}

bool Store::fail() {
    error_ = "settings database " + path_ + ": " + sqlite3_errmsg(db_);
    return false;
}

sqlite3_stmt *Store::statement(Sql q) {
    sqlite3_stmt *&st = stmts_[static_cast<unsigned>(q)];
    if (!st && sqlite3_prepare_v3(db_, kSql[static_cast<unsigned>(q)], -1,
                                  SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK) {
        fail();
        return nullptr;
    }
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    return st;
}

bool Store::step(sqlite3_stmt *st) {
    bool ok = sqlite3_step(st) == SQLITE_DONE || fail();
    sqlite3_reset(st);
    return ok;
}

bool Store::stepText(sqlite3_stmt *st, std::optional<std::string> &text) {
    int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW)
        text = column(st, 0);
    bool ok = rc == SQLITE_ROW || rc == SQLITE_DONE || fail();
    sqlite3_reset(st);
    return ok;
}

bool Store::exec(Sql q, const Address *a, std::optional<std::string_view> text) {
    sqlite3_stmt *st = statement(q);
    if (!st)
        return false;
    if (a)
        bindAddress(st, *a);
    if (text)
        bindText(st, 6, *text);
    return step(st);
}

// An object selected by a qualifier holds the qualifier as a setting of its
// own, so that a dump shows which object it is.
bool Store::storeSetting(const Address &a, std::string_view value) {
    bool qualifierStored = a.qkey.empty() || exec(Sql::AddQualifier, &a);
    return qualifierStored && exec(Sql::Upsert, &a, value);
}

// Ends the open transaction: commits when `ok`, else rolls back. Readers
// are told through the change counter only after a commit.
bool Store::finish(bool ok) {
    if (ok && exec(Sql::Commit)) {
        changes_.bump();
        return true;
    }
    std::string error = error_;
    exec(Sql::Rollback);
    error_ = error;
    return false;
}

bool Store::get(const Address &a, std::optional<std::string> &value) {
    value.reset();
    sqlite3_stmt *st = statement(Sql::Get);
    if (!st)
        return false;
    bindAddress(st, a);
    return stepText(st, value);
}

bool Store::journalWrite(const Address &a,
                         std::string_view value,
                         std::string_view writer,
                         std::string_view result) {
    sqlite3_stmt *st = statement(Sql::JournalAdd);
    if (!st)
        return false;
    bindAddress(st, a);
    bindText(st, 6, value);
    bindText(st, 7, writer);
    bindText(st, 8, result);
    if (!step(st))
        return false;
    sqlite3_stmt *trim = statement(Sql::JournalTrim);
    if (!trim)
        return false;
    sqlite3_bind_int64(trim, 1, journalRows_);
    return step(trim);
}

bool Store::writeLocked(const Address &a,
                        std::string_view value,
                        std::string_view writer,
                        std::optional<std::string> &refusal) {
    sqlite3_stmt *st = statement(Sql::LockError);
    if (!st)
        return false;
    bindAddress(st, a);
    if (!stepText(st, refusal))
        return false;
    if (refusal)
        return journalWrite(a, value, writer, *refusal);
    return storeSetting(a, value) && journalWrite(a, value, writer, "ok");
}

std::optional<std::string> Store::write(const Address &a,
                                        std::string_view value,
                                        std::string_view writer) {
    if (!exec(Sql::Begin))
        return error_;
    std::optional<std::string> refusal;
    if (!finish(writeLocked(a, value, writer, refusal)))
        return error_;
    return refusal;
}

bool Store::put(std::span<const Setting> settings) {
    if (!exec(Sql::Begin))
        return false;
    bool ok = true;
    for (const Setting &s : settings) {
        Address a = s.address();
        ok = ok && storeSetting(a, s.value);
    }
    return finish(ok);
}

bool Store::unset(const Address &a) {
    return exec(Sql::Begin) && finish(exec(Sql::Unset, &a));
}

bool Store::lock(const Address &a, std::string_view error) {
    return exec(Sql::Lock, &a, error);
}

bool Store::unlock(const Address &a) {
    return exec(Sql::Unlock, &a);
}

bool Store::reset() {
    if (!exec(Sql::Begin))
        return false;
    return finish(exec(Sql::ResetSettings) && exec(Sql::ResetLocks) && exec(Sql::ResetJournal));
}

bool Store::dump(std::vector<Setting> &out) {
    sqlite3_stmt *st = statement(Sql::Dump);
    if (!st)
        return false;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW)
        out.push_back(settingColumns(st, 0));
    bool ok = rc == SQLITE_DONE || fail();
    sqlite3_reset(st);
    return ok;
}

bool Store::journal(int64_t after, std::vector<JournalEntry> &out) {
    sqlite3_stmt *st = statement(Sql::Journal);
    if (!st)
        return false;
    sqlite3_bind_int64(st, 1, after);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW)
        out.push_back(
            {sqlite3_column_int64(st, 0), column(st, 1), settingColumns(st, 2), column(st, 8)});
    bool ok = rc == SQLITE_DONE || fail();
    sqlite3_reset(st);
    return ok;
}

}  // namespace lsq
