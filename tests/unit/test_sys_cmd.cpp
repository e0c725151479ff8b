// The command runner: status decoding, the trace lines and the refusal of a
// command that does not fit, through a recording shell; the tool invocations'
// command lines and verdicts.
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

int runTraced(bool trace, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
int runTraced(bool trace, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    const int rc = sysRunCommandV(trace, fmt, ap);
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

struct DecodeCase {
    int status;
    CommandOutcome outcome;
    int exited;
    unsigned exitCode;
};

TEST(DecodeStatus, SyntheticStatuses) {
    const DecodeCase cases[] = {
        {0, CommandOutcome::Done, 1, 0},
        {768, CommandOutcome::Failed, 1, 3},   // exit 3
        {256, CommandOutcome::Failed, 1, 1},   // exit 1
        {9, CommandOutcome::Failed, 0, 0},     // shell killed by signal 9
        {139, CommandOutcome::Failed, 0, 0},   // signal 11 with core
        {-1, CommandOutcome::CantFork, 0, 255},
    };
    for (const auto &c : cases) {
        const CommandStatus got = sysDecodeStatus(c.status);
        EXPECT_EQ(got.outcome, c.outcome) << c.status;
        EXPECT_EQ(got.exited, c.exited) << c.status;
        EXPECT_EQ(got.exitCode, c.exitCode) << c.status;
    }
}

struct TraceCase {
    int status;
    int result;
    const char *trace;
};

TEST_F(ShellRecorder, TraceLinesPerStatus) {
    const TraceCase cases[] = {
        {0, 0, "SYSCMD: submit COMMIT\n"},
        {768, -1,
         "SYSCMD: submit COMMIT\n!!!status=768, WIFEXITED=1, WEXITSTATUS=3\n"
         "cmd=\"submit COMMIT\" not exited normally.\n"},
        {9, -1,
         "SYSCMD: submit COMMIT\n!!!status=9, WIFEXITED=0, WEXITSTATUS=0\n"
         "cmd=\"submit COMMIT\" not exited normally.\n"},
        {-1, -1, "SYSCMD: submit COMMIT\nsystem(submit COMMIT) failed - can't fork.\n"},
    };
    for (const auto &c : cases) {
        g_status = c.status;
        testing::internal::CaptureStdout();
        const int rc = runTraced(true, "submit %s", "COMMIT");
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.trace) << c.status;
        EXPECT_EQ(rc, c.result) << c.status;
    }
}

TEST_F(ShellRecorder, QuietWithoutTracing) {
    for (const int status : {0, 768, 9, -1}) {
        g_status = status;
        testing::internal::CaptureStdout();
        const int rc = runTraced(false, "submit COMMIT");
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << status;
        EXPECT_EQ(rc, status == 0 ? 0 : -1) << status;
    }
    EXPECT_EQ(g_commands.size(), 4u);
}

TEST_F(ShellRecorder, FormatsTheCommandBeforeRunningIt) {
    EXPECT_EQ(sysRunCommand("tftp -g %s -l %s -r %s", "192.0.2.1", "cfg.tgz", "backup.tgz"), 0);
    ASSERT_EQ(g_commands.size(), 1u);
    EXPECT_EQ(g_commands[0], "tftp -g 192.0.2.1 -l cfg.tgz -r backup.tgz");
}

TEST_F(ShellRecorder, LongestCommandThatFitsRuns) {
    const std::string arg(1023 - 5, 'a');  // "echo " + arg = 1023 characters
    EXPECT_EQ(runTraced(false, "echo %s", arg.c_str()), 0);
    ASSERT_EQ(g_commands.size(), 1u);
    EXPECT_EQ(g_commands[0].size(), 1023u);
}

TEST_F(ShellRecorder, OverlongCommandIsRefusedNotCut) {
    const std::string arg(1024 - 5, 'a');  // one character too many
    testing::internal::CaptureStdout();
    EXPECT_EQ(runTraced(true, "echo %s", arg.c_str()), -1);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(g_commands.empty());
    EXPECT_EQ(out, "SYSCMD: refused, the command is longer than 1023 characters\n");

    testing::internal::CaptureStdout();
    EXPECT_EQ(runTraced(false, "echo %s", arg.c_str()), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(g_commands.empty());
}

using Tool = int (*)(const char *);

struct ToolCase {
    Tool tool;
    const char *command;  // for the file "fw.bin"
};

TEST_F(ShellRecorder, ValidationVerdictIsTheExitCodeAlone) {
    const ToolCase tools[] = {
        {&sysValidateFirmware, "/usr/sbin/flash-validate fw.bin >/dev/console 2>&1"},
        {&sysValidateConfigFile, "/usr/sbin/config-file validate fw.bin >/dev/console 2>&1"},
    };
    const struct {
        int status;
        int passed;
    } verdicts[] = {{0, 1}, {256, 0}, {768, 0}, {9, 1}, {-1, 0}};
    for (const auto &t : tools) {
        for (const auto &v : verdicts) {
            g_commands.clear();
            g_status = v.status;
            EXPECT_EQ(t.tool("fw.bin"), v.passed) << t.command << " status " << v.status;
            ASSERT_EQ(g_commands.size(), 1u);
            EXPECT_EQ(g_commands[0], t.command);
        }
    }
}

TEST_F(ShellRecorder, RestoreReturnsTheRawStatus) {
    for (const int status : {0, 256, 9, -1}) {
        g_commands.clear();
        g_status = status;
        EXPECT_EQ(sysRestoreConfigFile("cfg.tgz"), status);
        ASSERT_EQ(g_commands.size(), 1u);
        EXPECT_EQ(g_commands[0], "/usr/sbin/config-file restore cfg.tgz >/dev/console 2>&1");
    }
}

TEST_F(ShellRecorder, ToolCommandIsCutAt127Characters) {
    const std::string name(200, 'f');
    sysValidateFirmware(name.c_str());
    ASSERT_EQ(g_commands.size(), 1u);
    EXPECT_EQ(g_commands[0], ("/usr/sbin/flash-validate " + name).substr(0, 127));
}

// The default shell is the C library's: a real exit code comes back decoded.
TEST(RealShell, ExitCodesReachTheResult) {
    sysSetShellExec(nullptr);
    EXPECT_EQ(runTraced(false, "exit 0"), 0);
    EXPECT_EQ(runTraced(false, "exit 3"), -1);
    EXPECT_EQ(sysShell("exit 3"), 768);
}

}  // namespace
