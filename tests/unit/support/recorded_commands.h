// A test from an empty store that records the commands run in place of a
// shell; one that starts with a set g_failingPrefix exits with status 1.
#pragma once

#include <string>
#include <vector>

#include "sys_cmd.h"
#include "temp_store.h"

inline std::vector<std::string> g_commands;
inline std::string g_failingPrefix;

class CommandTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        g_commands.clear();
        g_failingPrefix.clear();
        sysSetShellExec([](const char *command) {
            g_commands.emplace_back(command);
            return !g_failingPrefix.empty() && g_commands.back().starts_with(g_failingPrefix)
                       ? 1 << 8
                       : 0;
        });
    }
    void TearDown() override { sysSetShellExec(nullptr); }
};
