#include "temp_store.h"

#include <gtest/gtest.h>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "store.h"

namespace {

std::string_view text(const char *s) {
    return s ? s : "";
}

lsq::Address address(const char *s, const char *k, const char *o, const char *qk, const char *qv) {
    return {text(s), text(o), text(qk), text(qv), text(k)};
}

// The program's temporary database folder, removed at exit. Created while
// the program starts, so that no code under test can open the default
// database first.
struct TempFolder {
    std::string folder, db;
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

const TempFolder &folder() {
    static const TempFolder f = [] {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tarn-store-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            std::perror("tarn unit tests: mkdtemp");
            std::abort();
        }
        setenv("LSQLQUERY_DB", (pattern + "/settings.db").c_str(), 1);
        return TempFolder{pattern, pattern + "/settings.db"};
    }();
    return f;
}

// The journal's last entry takeWrites() gave.
int64_t g_taken = 0;

// Points LSQLQUERY_DB at the folder before main() runs.
const bool g_folderReady = (folder(), true);

// The helper's own connection to the program's database.
lsq::Store &database() {
    static const std::unique_ptr<lsq::Store> s = [] {
        std::string error;
        std::unique_ptr<lsq::Store> opened = lsq::Store::open(folder().db, error);
        if (!opened) {
            std::fprintf(stderr, "tarn unit tests: %s\n", error.c_str());
            std::abort();
        }
        return opened;
    }();
    return *s;
}

}  // namespace

TempStore &store() {
    static TempStore s;
    return s;
}

const std::string &TempStore::path() const {
    return folder().db;
}

void TempStore::set(const char *section, const char *key, const char *value, const char *object) {
    lsq::Setting s{std::string(text(section)), std::string(text(object)), "", "",
                   std::string(text(key)),     std::string(text(value))};
    EXPECT_TRUE(database().put({&s, 1})) << database().lastError();
}

void TempStore::seed(const std::vector<std::string> &settings) {
    for (const std::string &setting : settings) {
        const size_t is = setting.find('='), dot = setting.find('.');
        const size_t last = setting.rfind('.', is);
        ASSERT_LT(dot, is) << setting;
        const std::string object = dot == last ? "" : setting.substr(dot + 1, last - dot - 1);
        set(setting.substr(0, dot).c_str(), setting.substr(last + 1, is - last - 1).c_str(),
            setting.substr(is + 1).c_str(), object.empty() ? nullptr : object.c_str());
    }
}

std::optional<std::string> TempStore::get(const char *section,
                                          const char *key,
                                          const char *object,
                                          const char *qualKey,
                                          const char *qualValue) {
    std::optional<std::string> value;
    EXPECT_TRUE(database().get(address(section, key, object, qualKey, qualValue), value))
        << database().lastError();
    return value;
}

std::vector<lsq::JournalEntry> TempStore::journal() {
    std::vector<lsq::JournalEntry> rows;
    EXPECT_TRUE(database().journal(0, rows)) << database().lastError();
    return rows;
}

std::vector<std::string> TempStore::takeWrites() {
    std::vector<std::string> out;
    for (const lsq::JournalEntry &e : journal()) {
        if (e.seq <= g_taken)
            continue;
        const lsq::Setting &s = e.setting;
        out.push_back(s.section + (s.object.empty() ? "" : "." + s.object) +
                      (s.qkey.empty() ? "" : "[" + s.qkey + "=" + s.qvalue + "]") + "." + s.key +
                      "=" + s.value);
        g_taken = e.seq;
    }
    return out;
}

void TempStore::lock(const char *section,
                     const char *key,
                     const char *error,
                     const char *object,
                     const char *qualKey,
                     const char *qualValue) {
    EXPECT_TRUE(database().lock(address(section, key, object, qualKey, qualValue), text(error)))
        << database().lastError();
}

void TempStore::clear() {
    EXPECT_TRUE(database().reset()) << database().lastError();
    g_taken = 0;
}
