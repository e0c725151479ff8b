// The shell command runner and the device tools with fixed command lines.
#pragma once

// Formats the command into 1024 bytes and runs it through the shell; 0 when
// it exited with code 0, -1 otherwise. A command that does not fit is
// refused (-1), never cut and run. Traced on stdout while the marker file
// "/system/cfg/debug" is readable.
int sysRunCommand(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

int sysValidateFirmware(const char *file);    // 1 when flash-validate exits 0
int sysValidateConfigFile(const char *file);  // 1 when config-file validate exits 0
int sysRestoreConfigFile(const char *file);   // raw wait status of config-file restore

// The one place where a command line meets the shell. Fuzz builds replace
// it to record commands instead of running them.
using ShellExec = int (*)(const char *command);
void sysSetShellExec(ShellExec exec);
