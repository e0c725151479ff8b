// The store stand-in's journal bounds, file modes, lsql's dump format and exit
// codes; addressing and writes in order are read back by every sandbox test.
#include <lsqlquery.h>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "temp_store.h"

namespace {

struct PvDeleter {
    void operator()(lsqlquery_pv *pv) const { lsqlquery_destroy_pv(pv); }
};
using Pv = std::unique_ptr<lsqlquery_pv, PvDeleter>;

using Text = const char *;
using Result = std::optional<std::string>;

Result libGet(Text section, Text key) {
    Pv pv(lsqlquery_get_pv(section, nullptr, key));
    return pv ? Result(pv->value) : std::nullopt;
}

// A library write; the error text when it fails.
Result libSet(Text section,
              Text key,
              Text value,
              Text obj = nullptr,
              Text qk = nullptr,
              Text qv = nullptr) {
    Pv rec(lsqlquery_new_pv_solo(key, value));
    Pv qual(qk ? lsqlquery_new_pv_solo(qk, qv) : nullptr);
    char *error = nullptr;
    if (lsqlquery_set_pv_with_error(section, obj, rec.get(), qual.get(), &error) == 0) {
        EXPECT_EQ(error, nullptr);
        return std::nullopt;
    }
    std::string text = error ? error : "(no error text)";
    std::free(error);
    return text;
}

struct ToolRun {
    int status = -1;
    std::string out, err;
};

// Runs a shell command: its exit code and standard output.
ToolRun run(const std::string &command) {
    ToolRun r;
    FILE *out = popen(command.c_str(), "r");
    char buf[4096];
    for (size_t n; out != nullptr && (n = std::fread(buf, 1, sizeof buf, out)) > 0;)
        r.out.append(buf, n);
    const int status = out != nullptr ? pclose(out) : -1;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

class LsqlqueryTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char *build = std::getenv("TARN_BUILD");
        if (build == nullptr)
            GTEST_SKIP() << "TARN_BUILD is not set";
        lsqlTool = std::string(build) + "/platform/lsqlquery/lsql";
        store().clear();
    }
    // Runs the built lsql with `args` (plain words); `input` is its standard input.
    ToolRun lsql(const std::string &args, const std::string &input = "") {
        // Beside the database, in its temporary folder.
        std::ofstream(store().path() + ".in") << input;
        const std::string command =
            lsqlTool + " " + args + " <" + store().path() + ".in 2>" + store().path() + ".err";
        ToolRun r = run(command);
        std::getline(std::ifstream(store().path() + ".err"), r.err, '\0');  // the whole file
        return r;
    }
    std::string lsqlTool;  // the built lsql
};

TEST_F(LsqlqueryTest, ToolExitCodes) {
    store().set("system", "model", "TAP-2400");
    store().lock("system", "version", "read-only");
    const struct {
        const char *args;
        int status;
    } cases[] = {
        {"get system missing", 1},
        {"set system version 2", 1},
        {"unset system missing", 0},            // the store ends the same
        {"get system model --where radio", 2},  // a usage error
    };
    for (const auto &c : cases) {
        ToolRun r = lsql(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << ": " << r.err;
        EXPECT_EQ(r.out, "") << c.args;
        if (c.status == 2) {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
    }
    // A malformed load names its line and changes nothing.
    ToolRun r = lsql("load -", "system\t-\t-\tmodel\tA\nsystem\t-\t-\tversion\n");
    EXPECT_EQ(std::tuple(r.status, r.err.find("-:2:") != std::string::npos), std::tuple(2, true))
        << r.err;
    EXPECT_EQ(libGet("system", "model"), "TAP-2400");
}

TEST_F(LsqlqueryTest, DumpLoadRoundTripKeepsEscapedTexts) {
    ASSERT_EQ(libSet("system", "system-name", "tab\there\nline\\end"), std::nullopt);
    ASSERT_EQ(libSet("vap", "vlan-id", "", "vap7", "radio", "wlan1"), std::nullopt);
    ToolRun dumped = lsql("dump");
    ASSERT_EQ(dumped.status, 0);
    EXPECT_EQ(dumped.out,
              "system\t-\t-\tsystem-name\ttab\\there\\nline\\\\end\n"
              "vap\tvap7\tradio=wlan1\tradio\twlan1\n"
              "vap\tvap7\tradio=wlan1\tvlan-id\t\n");
    ASSERT_EQ(lsql("reset").status, 0);
    EXPECT_EQ(libGet("system", "system-name"), std::nullopt);
    // Loading the qualified setting alone creates its qualifier too.
    ToolRun loaded = lsql("load -",
                          "# comment\n\n"
                          "system\t-\t-\tsystem-name\ttab\\there\\nline\\\\end\n"
                          "vap\tvap7\tradio=wlan1\tvlan-id\t\n");
    ASSERT_EQ(loaded.status, 0) << loaded.err;
    EXPECT_EQ(libGet("system", "system-name"), "tab\there\nline\\end");
    EXPECT_EQ(lsql("dump").out, dumped.out);
    EXPECT_TRUE(store().journal().empty());
}

// A new database and every file beside it are its owner's alone, whatever
// the umask; the journal keeps only its newest rows, numbered on.
TEST_F(LsqlqueryTest, NewDatabaseIsPrivateAndItsJournalARing) {
    namespace fs = std::filesystem;
    const fs::path folder = store().path() + ".fresh";
    const fs::perms ownerOnly = fs::perms::owner_read | fs::perms::owner_write;
    const std::string tool = "umask 022; LSQLQUERY_DB=" + (folder / "s.db").string() +
                             " LSQLQUERY_JOURNAL_ROWS=3 " + lsqlTool + " ";
    for (int i = 1; i <= 5; i++)
        ASSERT_EQ(run(tool + "set system n" + std::to_string(i) + " v").status, 0);
    const ToolRun journal = run(tool + "journal | cut -f1,6");
    EXPECT_EQ(std::tie(journal.status, journal.out), std::tuple(0, "3\tn3\n4\tn4\n5\tn5\n"));
    size_t files = 0;
    for (const auto &entry : fs::directory_iterator(folder)) {
        EXPECT_EQ(entry.status().permissions(), ownerOnly) << entry.path();
        files++;
    }
    EXPECT_GE(files, 2u);  // the database and its change counter
    fs::remove_all(folder);
    // This program's database is open: its WAL and shared memory exist.
    for (const char *suffix : {"", "-wal", "-shm", "-changes"})
        EXPECT_EQ(fs::status(store().path() + suffix).permissions(), ownerOnly) << suffix;
}

}  // namespace
