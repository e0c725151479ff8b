// The shell command runner and the device tools with fixed command lines.
#include "sys_cmd.h"

#include <openssl/crypto.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

// While this file is readable every command and every failure is traced on
// standard output. It is checked on each call, so creating or removing it
// switches tracing on a running daemon.
constexpr const char *kTraceMarker = "/system/cfg/debug";

constexpr size_t kCommandLen = 1024;

int runSystem(const char *command) {
    return std::system(command);
}

// Read by the restore worker too, hence atomic.
std::atomic<ShellExec> g_shellExec{&runSystem};

bool traceWanted() {
    return access(kTraceMarker, R_OK) == 0;
}

unsigned exitCodeOf(int status) {
    return (static_cast<unsigned>(status) >> 8) & 0xFFu;
}

// The tools' verdict is their exit code alone: a shell that cannot start
// (status -1) reads as code 0xFF, a tool killed by a signal as code 0.
int toolPassed(int status) {
    return exitCodeOf(status) == 0 ? 1 : 0;
}

// A device tool on one file, its output on the console. Returns the wait
// status.
int runTool(std::string_view tool, const char *file) {
    std::array<char, kToolCommandLen> command;
    sysFormatToolCommand(command, tool, file);
    return sysShell(command.data());
}

int textLen(std::string_view text) {
    return static_cast<int>(text.size());
}

struct WipeOnExit {
    std::span<char> buf;
    bool wanted;
    ~WipeOnExit() {
        if (wanted)
            OPENSSL_cleanse(buf.data(), buf.size());
    }
};

}  // namespace

void sysFormatToolCommand(std::span<char, kToolCommandLen> line,
                          std::string_view tool,
                          const char *file,
                          std::string_view after) {
    std::snprintf(line.data(), line.size(), "%.*s %s%.*s%.*s", textLen(tool), tool.data(), file,
                  textLen(kToolOutput), kToolOutput.data(), textLen(after), after.data());
}

void sysSetShellExec(ShellExec exec) {
    g_shellExec.store(exec != nullptr ? exec : &runSystem);
}

int sysShell(const char *command) {
    return g_shellExec.load()(command);
}

CommandStatus sysDecodeStatus(int status) {
    const int exited = (status & 0x7F) == 0 ? 1 : 0;
    const unsigned exitCode = exitCodeOf(status);
    if (status == -1) {
        return {CommandOutcome::CantFork, exited, exitCode};
    }
    if (exited == 1 && exitCode == 0) {
        return {CommandOutcome::Done, exited, exitCode};
    }
    return {CommandOutcome::Failed, exited, exitCode};
}

int sysRunCommandV(bool trace, const char *shown, const char *fmt, va_list ap) {
    std::array<char, kCommandLen> command;
    // A line that carries a secret (it has a masked text) is wiped however
    // the runner returns, so the plain secret does not linger on the stack.
    const WipeOnExit wipe{command, shown != nullptr};
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): the caller's va_start is right before;
    // clang 14 loses it
    const int len = std::vsnprintf(command.data(), command.size(), fmt, ap);
    // A cut command line could do something else entirely: refuse it.
    if (len < 0 || static_cast<size_t>(len) >= command.size()) {
        if (trace) {
            std::printf("SYSCMD: refused, the command is longer than %zu characters\n",
                        command.size() - 1);
            std::fflush(stdout);
        }
        return -1;
    }
    const char *traced = shown != nullptr ? shown : command.data();
    if (trace) {
        std::printf("SYSCMD: %s\n", traced);
    }
    const int status = sysShell(command.data());
    const CommandStatus decoded = sysDecodeStatus(status);
    switch (decoded.outcome) {
    case CommandOutcome::Done:
        return 0;
    case CommandOutcome::CantFork:
        if (trace) {
            std::printf("system(%s) failed - can't fork.\n", traced);
            std::fflush(stdout);
        }
        return -1;
    case CommandOutcome::Failed:
        if (trace) {
            std::printf("!!!status=%d, WIFEXITED=%d, WEXITSTATUS=%d\n", status, decoded.exited,
                        static_cast<int>(decoded.exitCode));
            std::printf("cmd=\"%s\" not exited normally.\n", traced);
            std::fflush(stdout);
        }
        return -1;
    }
    return -1;
}

int sysRunCommand(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    const int rc = sysRunCommandV(traceWanted(), nullptr, fmt, ap);
    va_end(ap);
    return rc;
}

int sysRunSecretCommand(const char *shown, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    const int rc = sysRunCommandV(traceWanted(), shown, fmt, ap);
    va_end(ap);
    return rc;
}

int sysValidateFirmware(const char *file) {
    return toolPassed(runTool(kFlashValidateTool, file));
}

int sysValidateConfigFile(const char *file) {
    return toolPassed(runTool(kConfigValidateTool, file));
}

int sysRestoreConfigFile(const char *file) {
    return runTool(kConfigRestoreTool, file);
}
