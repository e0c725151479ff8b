// The settings store stand-in: the library as the daemon calls it, its
// journal and locks, visibility of other processes' writes, and the lsql
// tool's line formats and exit codes.
#include <lsqlquery.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "escape.h"
#include "record_format.h"
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

// Runs `body` in a forked child; true when it exited 0. The child leaves
// with _exit so that it never runs the parent's exit handlers.
template <typename F>
bool inChild(F body)
{
    pid_t pid = fork();
    if (pid == 0)
        _exit(body() ? 0 : 1);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
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
    return text;
}

std::string lsqlPath()
{
    const char *build = std::getenv("TARN_BUILD");
    return build ? std::string(build) + "/platform/lsqlquery/lsql" : "";
}

// Runs the built lsql with `args` (no shell); `input` is its standard input.
ToolRun lsql(std::vector<std::string> args, const std::string &input = "")
{
    std::string path = lsqlPath();
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
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

class LsqlqueryTest : public ::testing::Test {
protected:
    void SetUp() override { store.clear(); }
    TempStore store;
};

TEST_F(LsqlqueryTest, MissingSettingReadsAsNull)
{
    EXPECT_EQ(lsqlquery_get_pv("system", nullptr, "model"), nullptr);
    EXPECT_EQ(lsqlquery_get_pv_q1("vap", "vap0", "vlan-id", "radio", "wlan1"), nullptr);
}

TEST_F(LsqlqueryTest, ValueIsTheRecordsSecondMember)
{
    store.set("system", "model", "TAP-2400");
    Pv pv(lsqlquery_get_pv("system", nullptr, "model"));
    ASSERT_NE(pv, nullptr);
    EXPECT_STREQ(pv->key, "model");
    EXPECT_STREQ(reinterpret_cast<char **>(pv.get())[1], "TAP-2400");
}

TEST_F(LsqlqueryTest, NewRecordCopiesItsTexts)
{
    std::string key = "ssid", value = "tarn-2g";
    Pv pv(lsqlquery_new_pv_solo(key.c_str(), value.c_str()));
    key[0] = value[0] = 'X';
    ASSERT_NE(pv, nullptr);
    EXPECT_STREQ(pv->key, "ssid");
    EXPECT_STREQ(pv->value, "tarn-2g");
}

TEST_F(LsqlqueryTest, DestroyAcceptsNull)
{
    lsqlquery_destroy_pv(nullptr);
}

struct AddressCase {
    const char *object;
    const char *qk;
    const char *qv;
    const char *value;
};

// Each address names its own setting: a write to one never shows in another.
TEST_F(LsqlqueryTest, EveryAddressIsItsOwnSetting)
{
    const AddressCase cases[] = {
        {nullptr, nullptr, nullptr, "plain"},
        {"vap5", nullptr, nullptr, "named"},
        {"vap5", "radio", "wlan1", "on wlan1"},
        {"vap5", "radio", "wlan0", "on wlan0"},
        {nullptr, "radio", "wlan1", "qualified, no object"},
    };
    for (const AddressCase &c : cases)
        ASSERT_EQ(libSet("vap", "vlan-id", c.value, c.object, c.qk, c.qv), std::nullopt);
    for (const AddressCase &c : cases)
        EXPECT_EQ(libGet("vap", "vlan-id", c.object, c.qk, c.qv), c.value) << c.value;
}

TEST_F(LsqlqueryTest, QualifiedWriteCreatesObjectWithItsQualifier)
{
    ASSERT_EQ(libSet("vap", "vlan-id", "7", "vap3", "radio", "wlan0"), std::nullopt);
    EXPECT_EQ(store.get("vap", "radio", "vap3", "radio", "wlan0"), "wlan0");
    EXPECT_EQ(libGet("vap", "radio", "vap3", "radio", "wlan0"), "wlan0");
    // An object that exists only qualified is not found by a plain read.
    EXPECT_EQ(libGet("vap", "vlan-id", "vap3"), std::nullopt);
}

TEST_F(LsqlqueryTest, OverwriteReplacesTheValue)
{
    ASSERT_EQ(libSet("system", "system-name", "first"), std::nullopt);
    ASSERT_EQ(libSet("system", "system-name", ""), std::nullopt);
    EXPECT_EQ(libGet("system", "system-name"), "");
}

TEST_F(LsqlqueryTest, JournalRecordsWritesInOrderWithWriter)
{
    ASSERT_EQ(libSet("system", "reboot", "yes"), std::nullopt);
    ASSERT_EQ(libSet("vap", "vlan-id", "12", "vap1", "radio", "wlan1"), std::nullopt);
    ASSERT_EQ(libSet("interface", "ssid", "tarn", "wlan0"), std::nullopt);
    std::vector<JournalEntry> j = store.journal();
    ASSERT_EQ(j.size(), 3u);
    for (size_t i = 1; i < j.size(); ++i)
        EXPECT_EQ(j[i].seq, j[i - 1].seq + 1);
    for (const JournalEntry &e : j) {
        EXPECT_EQ(e.writer, program_invocation_short_name);
        EXPECT_EQ(e.result, "ok");
    }
    EXPECT_EQ(j[0].section + "/" + j[0].object + "/" + j[0].key + "=" + j[0].value,
              "system//reboot=yes");
    EXPECT_EQ(j[1].object + " " + j[1].qualifier + " " + j[1].key + "=" + j[1].value,
              "vap1 radio=wlan1 vlan-id=12");
    EXPECT_EQ(j[2].object + " " + j[2].qualifier + " " + j[2].value, "wlan0  tarn");
    EXPECT_EQ(store.journal(j[1].seq).size(), 1u);
}

TEST_F(LsqlqueryTest, LockedSettingRefusesWriteWithItsText)
{
    store.set("system", "model", "TAP-2400");
    store.lock("system", "model", "model is read-only");
    EXPECT_EQ(libSet("system", "model", "other"), "model is read-only");
    EXPECT_EQ(libGet("system", "model"), "TAP-2400");
    std::vector<JournalEntry> j = store.journal();
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(j[0].value, "other");
    EXPECT_EQ(j[0].result, "model is read-only");
}

TEST_F(LsqlqueryTest, LockCoversOnlyItsOwnQualifiedObject)
{
    store.lock("vap", "vlan-id", "busy", "vap0", "radio", "wlan1");
    EXPECT_EQ(libSet("vap", "vlan-id", "3", "vap0", "radio", "wlan1"), "busy");
    EXPECT_EQ(libSet("vap", "vlan-id", "3", "vap0", "radio", "wlan0"), std::nullopt);
    EXPECT_EQ(store.get("vap", "radio", "vap0", "radio", "wlan1"), std::nullopt);
}

TEST_F(LsqlqueryTest, InvalidWriteIsRefusedWithText)
{
    char *error = nullptr;
    EXPECT_NE(lsqlquery_set_pv_with_error("system", nullptr, nullptr, nullptr, &error), 0);
    ASSERT_NE(error, nullptr);
    std::free(error);
}

TEST_F(LsqlqueryTest, OtherConnectionsWriteIsSeenByNextRead)
{
    store.set("ntp", "server", "a.example.net");
    ASSERT_EQ(libGet("ntp", "server"), "a.example.net");
    ASSERT_EQ(libGet("ntp", "status"), std::nullopt);
    store.set("ntp", "server", "b.example.net");
    store.set("ntp", "status", "up");
    EXPECT_EQ(libGet("ntp", "server"), "b.example.net");
    EXPECT_EQ(libGet("ntp", "status"), "up");
}

TEST_F(LsqlqueryTest, OtherProcessWriteIsSeenByNextRead)
{
    ASSERT_EQ(libSet("config", "status", "downloading"), std::nullopt);
    ASSERT_EQ(libGet("config", "status"), "downloading");
    ASSERT_EQ(libGet("config", "progress"), std::nullopt);
    ASSERT_TRUE(inChild([] {
        return !libSet("config", "status", "done") && !libSet("config", "progress", "100");
    }));
    EXPECT_EQ(libGet("config", "status"), "done");
    EXPECT_EQ(libGet("config", "progress"), "100");
}

TEST_F(LsqlqueryTest, UnopenableDatabaseReadsNothingAndRefusesWrites)
{
    store.set("system", "model", "TAP-2400");
    ASSERT_EQ(libGet("system", "model"), "TAP-2400");
    // The child drops its parent's connection and opens the path it is given.
    EXPECT_TRUE(inChild([] {
        setenv("LSQLQUERY_DB", "/proc/self/no-such-folder/settings.db", 1);
        std::optional<std::string> error = libSet("system", "model", "x");
        return !libGet("system", "model") && error &&
               error->find("/proc/self/no-such-folder/settings.db") != std::string::npos;
    }));
}

TEST_F(LsqlqueryTest, TwoThreadsShareTheConnection)
{
    constexpr int kWrites = 50;
    auto writer = [](const char *key) {
        for (int i = 0; i < kWrites; ++i) {
            std::string value = std::to_string(i);
            EXPECT_EQ(libSet("config", key, value.c_str()), std::nullopt);
            EXPECT_EQ(libGet("config", key), value);
        }
    };
    std::thread other(writer, "status");
    writer("progress");
    other.join();
    EXPECT_EQ(store.journal().size(), 2u * kWrites);
}

struct EscapeCase {
    const char *text;
    const char *escaped;
};

TEST(LsqlEscape, FieldsRoundTrip)
{
    const EscapeCase cases[] = {
        {"plain", "plain"},         {"", ""},
        {"a\tb", "a\\tb"},          {"line\nbreak", "line\\nbreak"},
        {"back\\slash", "back\\\\slash"}, {"\\t", "\\\\t"},
    };
    for (const EscapeCase &c : cases) {
        EXPECT_EQ(lsq::escapeField(c.text), c.escaped);
        EXPECT_EQ(lsq::unescapeField(c.escaped), c.text);
    }
}

TEST(LsqlEscape, UnknownOrCutEscapeIsRejected)
{
    for (const char *bad : {"\\x", "end\\", "\\r"})
        EXPECT_EQ(lsq::unescapeField(bad), std::nullopt) << bad;
}

TEST(LsqlDumpLine, ParsesAbsentAndQualifiedFields)
{
    lsq::Setting s;
    std::string error;
    ASSERT_TRUE(lsq::parseDumpLine("vap\tvap2\tradio=wlan0\tvlan-id\t", s, error)) << error;
    EXPECT_EQ(s.object + "|" + s.qkey + "|" + s.qvalue + "|" + s.key + "|" + s.value,
              "vap2|radio|wlan0|vlan-id|");
    ASSERT_TRUE(lsq::parseDumpLine("system\t-\t-\tmodel\tTAP", s, error)) << error;
    EXPECT_EQ(s.object + "|" + s.qkey, "|");
    EXPECT_EQ(lsq::formatDumpLine(s), "system\t-\t-\tmodel\tTAP");
}

TEST(LsqlDumpLine, MalformedLinesAreRejected)
{
    const char *bad[] = {
        "system\t-\t-\tmodel",           // four fields
        "system\t-\t-\tmodel\tx\ty",     // six fields
        "system\t-\tradio\tmodel\tx",    // qualifier without '='
        "system\t-\t-\t\tx",             // empty key
        "system\t-\t-\tmodel\tbad\\q",   // unknown escape
    };
    for (const char *line : bad) {
        lsq::Setting s;
        std::string error;
        EXPECT_FALSE(lsq::parseDumpLine(line, s, error)) << line;
        EXPECT_FALSE(error.empty());
    }
}

class LsqlTool : public LsqlqueryTest {
protected:
    void SetUp() override
    {
        if (lsqlPath().empty())
            GTEST_SKIP() << "TARN_BUILD is not set";
        LsqlqueryTest::SetUp();
    }
};

struct ToolCase {
    std::vector<std::string> args;
    int status;
    const char *out;
};

TEST_F(LsqlTool, ExitCodesAndOutput)
{
    store.set("system", "model", "TAP-2400");
    store.set("vap", "vlan-id", "4", "vap1", "radio", "wlan0");
    store.lock("system", "version", "read-only");
    const ToolCase cases[] = {
        {{"get", "system", "model"}, 0, "TAP-2400\n"},
        {{"get", "system", "missing"}, 1, ""},
        {{"get", "vap", "vlan-id", "--object", "vap1", "--where", "radio=wlan0"}, 0, "4\n"},
        {{"get", "vap", "vlan-id", "--object", "vap1"}, 1, ""},
        {{"set", "system", "version", "2"}, 1, ""},
        {{"unset", "system", "missing"}, 0, ""},
        {{"unset", "system", "model"}, 0, ""},
        {{"get", "system", "model"}, 1, ""},
        {{"get"}, 2, ""},
        {{"get", "system"}, 2, ""},
        {{"frobnicate"}, 2, ""},
        {{"get", "system", "model", "--where", "radio"}, 2, ""},
        {{"lock", "system", "model"}, 2, ""},
        {{"journal", "--after", "x"}, 2, ""},
        {{"dump", "--object", "x"}, 2, ""},
        {{}, 2, ""},
    };
    for (const ToolCase &c : cases) {
        ToolRun r = lsql(c.args);
        std::string what = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(r.status, c.status) << what << ": " << r.err;
        EXPECT_EQ(r.out, c.out) << what;
        if (c.status == 2) {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
    }
}

TEST_F(LsqlTool, SetIsJournaledAsLsql)
{
    // A cached miss must not hide the tool's write from the next read.
    ASSERT_EQ(libGet("interface", "ssid", "wlan1"), std::nullopt);
    ASSERT_EQ(lsql({"set", "interface", "ssid", "a\tb", "--object", "wlan1"}).status, 0);
    ASSERT_EQ(lsql({"set", "vap", "vlan-id", "9", "--object", "vap2", "--where", "radio=wlan1"})
                  .status, 0);
    ToolRun r = lsql({"journal"});
    EXPECT_EQ(r.out, "1\tlsql\tinterface\twlan1\t-\tssid\ta\\tb\tok\n"
                     "2\tlsql\tvap\tvap2\tradio=wlan1\tvlan-id\t9\tok\n");
    EXPECT_EQ(lsql({"journal", "--after", "1"}).out,
              "2\tlsql\tvap\tvap2\tradio=wlan1\tvlan-id\t9\tok\n");
    EXPECT_EQ(libGet("interface", "ssid", "wlan1"), "a\tb");
}

TEST_F(LsqlTool, LockAndUnlock)
{
    ASSERT_EQ(lsql({"lock", "system", "model", "--error", "no\tway"}).status, 0);
    EXPECT_EQ(libSet("system", "model", "x"), "no\tway");
    ASSERT_EQ(lsql({"unlock", "system", "model"}).status, 0);
    EXPECT_EQ(libSet("system", "model", "x"), std::nullopt);
}

TEST_F(LsqlTool, DumpLoadRoundTripKeepsEscapedTexts)
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
    EXPECT_TRUE(store.journal().empty());
    ToolRun loaded = lsql({"load", "-"}, "# comment\n\n" + dumped.out);
    ASSERT_EQ(loaded.status, 0) << loaded.err;
    EXPECT_EQ(libGet("system", "system-name"), "tab\there\nline\\end");
    EXPECT_EQ(libGet("vap", "vlan-id", "vap7", "radio", "wlan1"), "");
    EXPECT_EQ(lsql({"dump"}).out, dumped.out);
    EXPECT_TRUE(store.journal().empty());
}

TEST_F(LsqlTool, LoadedQualifiedSettingCarriesItsQualifier)
{
    ASSERT_EQ(lsql({"load", "-"}, "vap\tvap4\tradio=wlan0\tvlan-id\t30\n").status, 0);
    EXPECT_EQ(lsql({"dump"}).out, "vap\tvap4\tradio=wlan0\tradio\twlan0\n"
                                  "vap\tvap4\tradio=wlan0\tvlan-id\t30\n");
}

TEST_F(LsqlTool, MalformedLoadChangesNothing)
{
    ToolRun r = lsql({"load", "-"}, "system\t-\t-\tmodel\tA\nsystem\t-\t-\tversion\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("-:2:"), std::string::npos) << r.err;
    EXPECT_EQ(libGet("system", "model"), std::nullopt);
}

TEST_F(LsqlTool, UnopenableDatabaseIsNamed)
{
    const char *bad = "/proc/self/no-such-folder/settings.db";
    std::string saved = store.path();
    setenv("LSQLQUERY_DB", bad, 1);
    ToolRun r = lsql({"get", "system", "model"});
    setenv("LSQLQUERY_DB", saved.c_str(), 1);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(bad), std::string::npos) << r.err;
}

TEST_F(LsqlTool, FactoryDefaultsLoad)
{
    const char *source = std::getenv("TARN_SOURCE");
    if (!source)
        GTEST_SKIP() << "TARN_SOURCE is not set";
    ToolRun r = lsql({"load", std::string(source) + "/platform/defaults/factory.dump"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(libGet("management", "interface"), "brtrunk");
    EXPECT_EQ(libGet("vap", "vlan-id", "vap7", "radio", "wlan0"), "1");
    EXPECT_EQ(libGet("bss", "wpa2-allowed", "wlan1bssvap7"), "on");
    std::optional<std::string> hash = libGet("system", "encrypted-password");
    ASSERT_TRUE(hash);
    EXPECT_TRUE(hash->starts_with("$5$"));
    EXPECT_LT(hash->size(), 64u);
}

}  // namespace
