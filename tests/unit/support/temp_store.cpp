#include "temp_store.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

#include "store.h"

namespace {

std::string_view text(const char *s)
{
    return s ? s : "";
}

lsq::Address address(const char *section, const char *key, const char *object,
                     const char *qualKey, const char *qualValue)
{
    return {text(section), text(object), text(qualKey), text(qualValue), text(key)};
}

// The program's temporary database folder. Created while the program
// starts, so that no code under test can open the default database first;
// removed at exit by the process that created it (not by forked children).
class TempFolder {
public:
    TempFolder() : owner_(getpid())
    {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tarn-store-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            std::perror("tarn unit tests: mkdtemp");
            std::abort();
        }
        folder_ = pattern;
        db_ = folder_ + "/settings.db";
        setenv("LSQLQUERY_DB", db_.c_str(), 1);
    }
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;
    ~TempFolder()
    {
        std::error_code ec;
        if (getpid() == owner_)
            std::filesystem::remove_all(folder_, ec);
    }

    const std::string &db() const { return db_; }

private:
    pid_t owner_;
    std::string folder_;
    std::string db_;
};

TempFolder &folder()
{
    static TempFolder f;
    return f;
}

// Points LSQLQUERY_DB at the folder before main() runs.
const bool g_folderReady = (folder(), true);

// The helper's own connection to the program's database, reopened in a
// forked child rather than shared with the parent.
lsq::Store &store()
{
    static std::unique_ptr<lsq::Store> s;
    static pid_t opener = 0;
    if (!s || opener != getpid()) {
        static_cast<void>(s.release());
        std::string error;
        s = lsq::Store::open(folder().db(), error);
        opener = getpid();
        if (!s) {
            std::fprintf(stderr, "tarn unit tests: %s\n", error.c_str());
            std::abort();
        }
    }
    return *s;
}

}  // namespace

TempStore::TempStore()
{
    store();
}

const std::string &TempStore::path() const
{
    return folder().db();
}

void TempStore::set(const char *section, const char *key, const char *value, const char *object,
                    const char *qualKey, const char *qualValue)
{
    lsq::Setting s{std::string(text(section)),  std::string(text(object)),
                   std::string(text(qualKey)),  std::string(text(qualValue)),
                   std::string(text(key)),      std::string(text(value))};
    EXPECT_TRUE(store().put({&s, 1})) << store().lastError();
}

std::optional<std::string> TempStore::get(const char *section, const char *key,
                                          const char *object, const char *qualKey,
                                          const char *qualValue)
{
    std::optional<std::string> value;
    EXPECT_TRUE(store().get(address(section, key, object, qualKey, qualValue), value))
        << store().lastError();
    return value;
}

std::vector<JournalEntry> TempStore::journal(int64_t after)
{
    std::vector<lsq::JournalEntry> rows;
    EXPECT_TRUE(store().journal(after, rows)) << store().lastError();
    std::vector<JournalEntry> out;
    for (const lsq::JournalEntry &r : rows) {
        const lsq::Setting &s = r.setting;
        std::string qualifier = s.qkey.empty() ? "" : s.qkey + "=" + s.qvalue;
        out.push_back({r.seq, r.writer, s.section, s.object, qualifier, s.key, s.value, r.result});
    }
    return out;
}

void TempStore::lock(const char *section, const char *key, const char *error, const char *object,
                     const char *qualKey, const char *qualValue)
{
    EXPECT_TRUE(store().lock(address(section, key, object, qualKey, qualValue), text(error)))
        << store().lastError();
}

void TempStore::clear()
{
    EXPECT_TRUE(store().reset()) << store().lastError();
}
