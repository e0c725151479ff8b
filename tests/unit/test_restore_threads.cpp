// The restore worker against the settings store while the main thread keeps
// serving queries: the two threads share the store's one connection, the
// status setting and the command runner. Meant for a ThreadSanitizer build
// (-DTARN_TSAN=ON), where any unsynchronised access fails the run; in the
// other builds it checks the same walk of the status.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cfg.h"
#include "req_func_config.h"
#include "sys_cmd.h"
#include "temp_store.h"
#include "wire.h"

namespace wt = wire::transfer;

namespace {

std::mutex g_mutex;
std::vector<std::string> g_commands;

int recordCommand(const char *command) {
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_commands.emplace_back(command);
    return 0;
}

std::vector<std::string> commands() {
    const std::lock_guard<std::mutex> lock(g_mutex);
    return g_commands;
}

// The uResult of one restore request served on this thread.
uint8_t serveRestore(uint8_t sst) {
    std::array<uint8_t, wire::kMaxDatagram - wire::kHeaderLen> body{};
    body[wt::kSubService] = sst;
    body[wt::kServerType] = wt::kServerTftp;
    body[wt::kAddrType] = wt::kAddrIpv4;
    const std::array<uint8_t, 4> server = {192, 0, 2, 1};
    std::copy(server.begin(), server.end(), body.begin() + wt::kAddr);
    const std::string name = "saved.cfg";
    std::copy(name.begin(), name.end(), body.begin() + wt::kFileV4);
    wire::message_t req{};
    req.uMsgType = wire::kTypeRequest;
    req.uOP_Code = wire::OP_CONFIG_RESTORE;
    std::array<uint8_t, wire::kMaxDatagram> reply{};
    EXPECT_EQ(funcConfigUpgrade(&req, body, reply), kTransferReplyLen);
    return wire::load_u8(reply, wire::kHeaderLen + wt::kReplyResult);
}

TEST(RestoreThreads, QueriesFollowTheDetachedWorkerToComplete) {
    static TempStore store;
    store.clear();
    store.set("system", "username", "admin");
    sysSetShellExec(recordCommand);
    ASSERT_EQ(serveRestore(wt::SST_CONFIG), 0);
    // Queries and unrelated reads until the worker has run its last command;
    // bounded: the worker's pause is 2 seconds, 20 seconds is the ceiling.
    const auto restored = [] {
        const std::vector<std::string> seen = commands();
        return !seen.empty() && seen.back().starts_with("/usr/sbin/config-file restore");
    };
    std::vector<uint8_t> answers;
    for (int i = 0; i < 4000 && !restored(); i++) {
        answers.push_back(serveRestore(wt::SST_QUERY));
        std::array<char, 64> name{};
        cfgGet("system", "username", name);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // 2 while busy, 3 once for "complete" (which the query clears), then 2
    // for the empty status.
    EXPECT_NE(std::find(answers.begin(), answers.end(), 3), answers.end());
    EXPECT_EQ(commands(), (std::vector<std::string>{
                              "tftp -g 192.0.2.1 -l saved.cfg -r saved.cfg",
                              "/usr/sbin/config-file validate saved.cfg >/dev/console 2>&1",
                              "/usr/sbin/config-file restore saved.cfg >/dev/console 2>&1"}));
    EXPECT_EQ(store.get("config", "status"), "");
    sysSetShellExec(nullptr);
}

}  // namespace
