// The shell command runner and the device tools with fixed command lines.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <span>
#include <string_view>

// Formats the command into 1024 bytes and runs it through the shell; 0 when
// it exited with code 0, -1 otherwise. A command that does not fit is
// refused (-1), never cut and run. Traced on stdout while the marker file
// "/system/cfg/debug" is readable.
int sysRunCommand(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// The same for a command line that carries a secret: the trace and the
// failure lines show `shown` in its place, so the secret never reaches a log.
int sysRunSecretCommand(const char *shown, const char *fmt, ...)
    __attribute__((format(printf, 2, 3)));

// The device tools run on one file: "TOOL FILE >/dev/console 2>&1", formatted
// into 128 bytes. The formatting cuts a longer line, so callers refuse a name
// longer than toolMaxFileNameLen allows for every tool they will run.
inline constexpr size_t kToolCommandLen = 128;
inline constexpr std::string_view kToolOutput = " >/dev/console 2>&1";
inline constexpr std::string_view kFlashValidateTool = "/usr/sbin/flash-validate";
inline constexpr std::string_view kConfigValidateTool = "/usr/sbin/config-file validate";
inline constexpr std::string_view kConfigRestoreTool = "/usr/sbin/config-file restore";

// The longest file name that `tool`'s command line, followed by `after`,
// holds uncut.
constexpr size_t toolMaxFileNameLen(std::string_view tool, std::string_view after = {}) {
    return kToolCommandLen - 1 - tool.size() - 1 - kToolOutput.size() - after.size();
}

// Formats `tool`'s command line on `file`, followed by `after`, into `line`.
void sysFormatToolCommand(std::span<char, kToolCommandLen> line,
                          std::string_view tool,
                          const char *file,
                          std::string_view after = {});

int sysValidateFirmware(const char *file);    // 1 when flash-validate exits 0
int sysValidateConfigFile(const char *file);  // 1 when config-file validate exits 0
int sysRestoreConfigFile(const char *file);   // raw wait status of config-file restore

// The one place where a command line meets the shell. Fuzz builds replace
// it to record commands instead of running them.
using ShellExec = int (*)(const char *command);
void sysSetShellExec(ShellExec exec);

// Hands one finished command line to the installed shell and returns its
// wait status; start-up's own commands go through here too.
int sysShell(const char *command);

// sysRunCommand with the trace decision already taken (the marker check is
// the caller's), so the trace can be exercised without the marker file.
// `shown` stands for the command in the trace; null shows the command itself.
int sysRunCommandV(bool trace, const char *shown, const char *fmt, va_list ap)
    __attribute__((format(printf, 3, 0)));

// What a wait status from the shell means to the runner.
enum class CommandOutcome { Done, CantFork, Failed };
struct CommandStatus {
    CommandOutcome outcome;
    int exited;         // 1 when the low 7 bits are 0 (normal exit)
    unsigned exitCode;  // bits 8-15
};
CommandStatus sysDecodeStatus(int status);
