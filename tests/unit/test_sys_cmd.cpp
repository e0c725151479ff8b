// The command runner through a recording shell: status decoding in the trace
// lines and the refusal of a command that does not fit.
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>
#include <vector>

#include "sys_cmd.h"

namespace {

std::vector<std::string> g_commands;
int g_status = 0;

int recordingShell(const char *command) {
    g_commands.emplace_back(command);
    return g_status;
}

// `shown` stands in for the command in the trace and failure lines; null: the command itself.
int run(bool trace, const char *shown, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
int run(bool trace, const char *shown, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    const int rc = sysRunCommandV(trace, shown, fmt, ap);
    va_end(ap);
    return rc;
}

class ShellRecorder : public ::testing::Test {
protected:
    void SetUp() override {
        g_commands.clear();
        g_status = 0;
        sysSetShellExec(&recordingShell);
    }
    void TearDown() override { sysSetShellExec(nullptr); }
};

// A secret reaches the shell, never the trace or the failure lines.
TEST_F(ShellRecorder, TraceLinesPerStatus) {
    const char *secret = "submit SET_PASSWD 'admin' '********'";
    const struct {
        const char *shown;
        int status;
        int result;
        const char *trace;
    } cases[] = {
        {nullptr, 0, 0, "SYSCMD: submit COMMIT\n"},
        {nullptr, 768, -1,
         "SYSCMD: submit COMMIT\n!!!status=768, WIFEXITED=1, WEXITSTATUS=3\n"
         "cmd=\"submit COMMIT\" not exited normally.\n"},
        {nullptr, 9, -1,
         "SYSCMD: submit COMMIT\n!!!status=9, WIFEXITED=0, WEXITSTATUS=0\n"
         "cmd=\"submit COMMIT\" not exited normally.\n"},
        {nullptr, -1, -1, "SYSCMD: submit COMMIT\nsystem(submit COMMIT) failed - can't fork.\n"},
        {secret, 0, 0, "SYSCMD: submit SET_PASSWD 'admin' '********'\n"},
        {secret, 256, -1,
         "SYSCMD: submit SET_PASSWD 'admin' '********'\n"
         "!!!status=256, WIFEXITED=1, WEXITSTATUS=1\n"
         "cmd=\"submit SET_PASSWD 'admin' '********'\" not exited normally.\n"},
        {secret, -1, -1,
         "SYSCMD: submit SET_PASSWD 'admin' '********'\n"
         "system(submit SET_PASSWD 'admin' '********') failed - can't fork.\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.trace);
        g_status = c.status;
        for (const bool trace : {true, false}) {
            g_commands.clear();
            testing::internal::CaptureStdout();
            const int rc =
                c.shown ? run(trace, c.shown, "submit SET_PASSWD '%s' '%s'", "admin", "s3cret")
                        : run(trace, nullptr, "submit %s", "COMMIT");
            EXPECT_EQ(testing::internal::GetCapturedStdout(), trace ? c.trace : "");
            EXPECT_EQ(rc, c.result);
            EXPECT_EQ(g_commands,
                      std::vector<std::string>{c.shown ? "submit SET_PASSWD 'admin' 's3cret'"
                                                       : "submit COMMIT"});
        }
    }
}

TEST_F(ShellRecorder, OverlongCommandIsRefusedNotCut) {
    EXPECT_EQ(run(false, nullptr, "echo %s", std::string(1023 - 5, 'a').c_str()), 0);
    ASSERT_EQ(g_commands.size(), 1u);
    EXPECT_EQ(g_commands[0].size(), 1023u);  // the longest command that fits runs

    g_commands.clear();
    testing::internal::CaptureStdout();
    EXPECT_EQ(run(true, nullptr, "echo %s", std::string(1024 - 5, 'a').c_str()), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "SYSCMD: refused, the command is longer than 1023 characters\n");
    EXPECT_TRUE(g_commands.empty());
}

}  // namespace
