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

// A secret reaches the shell, never the trace or the failure lines ({} in
// them stands for the command as shown).
TEST_F(ShellRecorder, TraceLinesPerStatus) {
    const struct {
        int status, result;
        const char *failure;
    } cases[] = {
        {0, 0, ""},
        {768, -1, "!!!status=768, WIFEXITED=1, WEXITSTATUS=3\ncmd=\"{}\" not exited normally.\n"},
        {9, -1, "!!!status=9, WIFEXITED=0, WEXITSTATUS=0\ncmd=\"{}\" not exited normally.\n"},
        {-1, -1, "system({}) failed - can't fork.\n"},
    };
    for (const char *secret :
         {static_cast<const char *>(nullptr), "submit SET_PASSWD 'admin' '***'"})
        for (const auto &c : cases) {
            const std::string shown = secret ? secret : "submit COMMIT";
            std::string failure = c.failure;
            if (const size_t at = failure.find("{}"); at != std::string::npos)
                failure.replace(at, 2, shown);
            SCOPED_TRACE(shown + " " + std::to_string(c.status));
            g_status = c.status;
            for (const bool trace : {true, false}) {
                g_commands.clear();
                testing::internal::CaptureStdout();
                const int rc =
                    secret ? run(trace, secret, "submit SET_PASSWD '%s' '%s'", "admin", "s3cret")
                           : run(trace, nullptr, "submit %s", "COMMIT");
                EXPECT_EQ(testing::internal::GetCapturedStdout(),
                          trace ? "SYSCMD: " + shown + "\n" + failure : "");
                EXPECT_EQ(rc, c.result);
                EXPECT_EQ(g_commands,
                          std::vector<std::string>{secret ? "submit SET_PASSWD 'admin' 's3cret'"
                                                          : "submit COMMIT"});
            }
        }
}

TEST_F(ShellRecorder, OverlongCommandIsRefusedNotCut) {
    EXPECT_EQ(run(false, nullptr, "echo %s", std::string(1023 - 5, 'a').c_str()), 0);
    EXPECT_EQ(g_commands, std::vector{"echo " + std::string(1023 - 5, 'a')});  // fits: runs

    g_commands.clear();
    testing::internal::CaptureStdout();
    EXPECT_EQ(run(true, nullptr, "echo %s", std::string(1024 - 5, 'a').c_str()), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "SYSCMD: refused, the command is longer than 1023 characters\n");
    EXPECT_TRUE(g_commands.empty());
}

}  // namespace
