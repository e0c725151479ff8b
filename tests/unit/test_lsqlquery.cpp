// The settings store stand-in: addressing, the journal, locks, visibility of
// other processes' writes, and the lsql tool's dump format and exit codes.
#include <lsqlquery.h>

#include <cerrno>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

#include "temp_store.h"

namespace {

struct PvDeleter {
    void operator()(lsqlquery_pv *pv) const { lsqlquery_destroy_pv(pv); }
};
using Pv = std::unique_ptr<lsqlquery_pv, PvDeleter>;

std::optional<std::string> libGet(const char *section, const char *key,
                                  const char *object = nullptr, const char *qk = nullptr,
                                  const char *qv = nullptr)
{
    Pv pv(qk ? lsqlquery_get_pv_q1(section, object, key, qk, qv)
             : lsqlquery_get_pv(section, object, key));
    if (!pv)
        return std::nullopt;
    return std::string(pv->value);
}

// A library write; the error text when it fails.
std::optional<std::string> libSet(const char *section, const char *key, const char *value,
                                  const char *object = nullptr, const char *qk = nullptr,
                                  const char *qv = nullptr)
{
    Pv rec(lsqlquery_new_pv_solo(key, value));
    Pv qual(qk ? lsqlquery_new_pv_solo(qk, qv) : nullptr);
    char *error = nullptr;
    int rc = lsqlquery_set_pv_with_error(section, object, rec.get(), qual.get(), &error);
    if (rc == 0) {
        EXPECT_EQ(error, nullptr);
        return std::nullopt;
    }
    std::string text = error ? error : "(no error text)";
    std::free(error);
    return text;
}

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string readAll(int fd)
{
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        text.append(buf, static_cast<size_t>(n));
    close(fd);
    return text;
}

// Runs the built lsql with `args` (no shell); `input` is its standard input.
ToolRun lsql(std::vector<std::string> args, const std::string &input = "")
{
    std::string path = std::string(std::getenv("TARN_BUILD")) + "/platform/lsqlquery/lsql";
    int in[2], out[2], err[2];
    if (pipe(in) || pipe(out) || pipe(err))
        return {};
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
            close(fd);
        std::vector<char *> argv{const_cast<char *>("lsql")};
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    // Inputs are small: they fit the pipe, so writing before reading is safe.
    EXPECT_EQ(write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    close(in[1]);
    ToolRun r;
    r.out = readAll(out[0]);
    r.err = readAll(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

class LsqlqueryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!std::getenv("TARN_BUILD"))
            GTEST_SKIP() << "TARN_BUILD is not set";
        store.clear();
    }
    TempStore store;
};

// Each address names its own setting: a write to one never shows in another.
TEST_F(LsqlqueryTest, EveryAddressIsItsOwnSetting)
{
    const struct {
        const char *object, *qk, *qv, *value;
    } cases[] = {
        {nullptr, nullptr, nullptr, "plain"},
        {"vap5", nullptr, nullptr, "named"},
        {"vap5", "radio", "wlan1", "on wlan1"},
        {"vap5", "radio", "wlan0", "on wlan0"},
        {nullptr, "radio", "wlan1", "qualified, no object"},
    };
    for (const auto &c : cases)
        ASSERT_EQ(libSet("vap", "vlan-id", c.value, c.object, c.qk, c.qv), std::nullopt);
    for (const auto &c : cases)
        EXPECT_EQ(libGet("vap", "vlan-id", c.object, c.qk, c.qv), c.value) << c.value;
}

TEST_F(LsqlqueryTest, JournalRecordsWritesInOrderWithWriterAndResult)
{
    store.lock("system", "model", "model is read-only");
    ASSERT_EQ(libSet("system", "reboot", "yes"), std::nullopt);
    ASSERT_EQ(libSet("vap", "vlan-id", "12", "vap1", "radio", "wlan1"), std::nullopt);
    // A locked setting refuses the write with the lock's own text.
    EXPECT_EQ(libSet("system", "model", "other"), "model is read-only");
    EXPECT_EQ(libGet("system", "model"), std::nullopt);
    std::vector<JournalEntry> j = store.journal();
    ASSERT_EQ(j.size(), 3u);
    for (size_t i = 1; i < j.size(); ++i)
        EXPECT_EQ(j[i].seq, j[i - 1].seq + 1);
    for (const JournalEntry &e : j)
        EXPECT_EQ(e.writer, program_invocation_short_name);
    EXPECT_EQ(j[0].section + "/" + j[0].object + "/" + j[0].key + "=" + j[0].value + " " +
                  j[0].result, "system//reboot=yes ok");
    EXPECT_EQ(j[1].object + " " + j[1].qualifier + " " + j[1].key + "=" + j[1].value + " " +
                  j[1].result, "vap1 radio=wlan1 vlan-id=12 ok");
    EXPECT_EQ(j[2].key + "=" + j[2].value + " " + j[2].result, "model=other model is read-only");
}

// A read cached before another process's write, hit or miss, gives way to it.
TEST_F(LsqlqueryTest, OtherProcessWriteIsSeenByNextRead)
{
    ASSERT_EQ(libSet("config", "status", "downloading"), std::nullopt);
    ASSERT_EQ(libGet("config", "status"), "downloading");
    ASSERT_EQ(libGet("config", "progress"), std::nullopt);
    ASSERT_EQ(lsql({"set", "config", "status", "done"}).status, 0);
    ASSERT_EQ(lsql({"set", "config", "progress", "100"}).status, 0);
    EXPECT_EQ(libGet("config", "status"), "done");
    EXPECT_EQ(libGet("config", "progress"), "100");
    EXPECT_EQ(store.journal().back().writer, "lsql");
}

TEST_F(LsqlqueryTest, ToolExitCodes)
{
    store.set("system", "model", "TAP-2400");
    store.lock("system", "version", "read-only");
    const struct {
        std::vector<std::string> args;
        int status;
        const char *out;
    } cases[] = {
        {{"get", "system", "model"}, 0, "TAP-2400\n"},
        {{"get", "system", "missing"}, 1, ""},
        {{"set", "system", "version", "2"}, 1, ""},
        {{"unset", "system", "missing"}, 0, ""},  // the store ends the same
        {{"frobnicate"}, 2, ""},
        {{"get", "system", "model", "--where", "radio"}, 2, ""},
        {{}, 2, ""},
    };
    for (const auto &c : cases) {
        ToolRun r = lsql(c.args);
        std::string what = c.args.empty() ? "(none)" : c.args.back();
        EXPECT_EQ(r.status, c.status) << what << ": " << r.err;
        EXPECT_EQ(r.out, c.out) << what;
        if (c.status == 2) {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
    }
    // A malformed load names its line and changes nothing.
    ToolRun r = lsql({"load", "-"}, "system\t-\t-\tmodel\tA\nsystem\t-\t-\tversion\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("-:2:"), std::string::npos) << r.err;
    EXPECT_EQ(libGet("system", "model"), "TAP-2400");
}

TEST_F(LsqlqueryTest, DumpLoadRoundTripKeepsEscapedTexts)
{
    ASSERT_EQ(libSet("system", "system-name", "tab\there\nline\\end"), std::nullopt);
    ASSERT_EQ(libSet("vap", "vlan-id", "", "vap7", "radio", "wlan1"), std::nullopt);
    ToolRun dumped = lsql({"dump"});
    ASSERT_EQ(dumped.status, 0);
    EXPECT_EQ(dumped.out, "system\t-\t-\tsystem-name\ttab\\there\\nline\\\\end\n"
                          "vap\tvap7\tradio=wlan1\tradio\twlan1\n"
                          "vap\tvap7\tradio=wlan1\tvlan-id\t\n");
    ASSERT_EQ(lsql({"reset"}).status, 0);
    EXPECT_EQ(libGet("system", "system-name"), std::nullopt);
    // Loading the qualified setting alone creates its qualifier too.
    ToolRun loaded = lsql({"load", "-"}, "# comment\n\n"
                                         "system\t-\t-\tsystem-name\ttab\\there\\nline\\\\end\n"
                                         "vap\tvap7\tradio=wlan1\tvlan-id\t\n");
    ASSERT_EQ(loaded.status, 0) << loaded.err;
    EXPECT_EQ(libGet("system", "system-name"), "tab\there\nline\\end");
    EXPECT_EQ(lsql({"dump"}).out, dumped.out);
    EXPECT_TRUE(store.journal().empty());
}

}  // namespace
