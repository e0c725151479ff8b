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

TempStore &store() {
    static TempStore s;
    return s;
}

std::mutex g_mutex;
std::vector<std::string> g_commands;
bool g_validationPasses = true;

int recordCommand(const char *command) {
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_commands.emplace_back(command);
    const bool validation = std::string(command).starts_with("/usr/sbin/config-file validate");
    return validation && !g_validationPasses ? 1 << 8 : 0;
}

std::vector<std::string> commands() {
    const std::lock_guard<std::mutex> lock(g_mutex);
    return g_commands;
}

bool workerDone() {
    const std::vector<std::string> seen = commands();
    if (seen.empty())
        return false;
    const std::string &last = seen.back();
    return last.starts_with("/usr/sbin/config-file restore") ||
           (last.starts_with("/usr/sbin/config-file validate") && !g_validationPasses);
}

using Body = std::array<uint8_t, wire::kMaxDatagram - wire::kHeaderLen>;

Body restoreStart() {
    Body b{};
    b[wt::kSubService] = wt::SST_CONFIG;
    b[wt::kServerType] = wt::kServerTftp;
    b[wt::kAddrType] = wt::kAddrIpv4;
    const std::array<uint8_t, 4> server = {192, 0, 2, 1};
    std::copy(server.begin(), server.end(), b.begin() + wt::kAddr);
    const std::string name = "saved.cfg";
    std::copy(name.begin(), name.end(), b.begin() + wt::kFileV4);
    return b;
}

Body restoreQuery() {
    Body b{};
    b[wt::kSubService] = wt::SST_QUERY;
    return b;
}

// The uResult of one restore request served on this thread.
uint8_t serveRestore(const Body &body) {
    wire::message_t req{};
    req.uMsgType = wire::kTypeRequest;
    req.uOP_Code = wire::OP_CONFIG_RESTORE;
    req.uStatus = wire::kAddrUnicast;
    std::array<uint8_t, wire::kMaxDatagram> reply{};
    const unsigned len = funcConfigUpgrade(&req, body, reply);
    EXPECT_EQ(len, kTransferReplyLen);
    return wire::load_u8(reply, wire::kHeaderLen + wt::kReplyResult);
}

// Queries and unrelated reads on the main thread until the worker has run
// its last command; the answers seen, in order, without repeats.
std::vector<uint8_t> queryUntilWorkerDone() {
    std::vector<uint8_t> answers;
    // Bounded: the worker's pause is 2 seconds; 20 seconds is the ceiling.
    for (int i = 0; i < 4000 && !workerDone(); i++) {
        const uint8_t result = serveRestore(restoreQuery());
        if (answers.empty() || answers.back() != result)
            answers.push_back(result);
        std::array<char, 64> name{};
        cfgGet("system", "username", name);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return answers;
}

class RestoreThreads : public ::testing::Test {
protected:
    void SetUp() override {
        store().clear();
        store().set("system", "username", "admin");
        {
            const std::lock_guard<std::mutex> lock(g_mutex);
            g_commands.clear();
        }
        sysSetShellExec(recordCommand);
        setRestoreWorkerStart(nullptr);  // the real detached thread
    }
    void TearDown() override { sysSetShellExec(nullptr); }
};

TEST_F(RestoreThreads, QueriesFollowTheWorkerToCompleteWhileItPausesAndRestores) {
    g_validationPasses = true;
    ASSERT_EQ(serveRestore(restoreStart()), 0);
    const std::vector<uint8_t> answers = queryUntilWorkerDone();
    ASSERT_TRUE(workerDone());
    // 2 while busy, 3 once for "complete" (which the query clears), then 2
    // for the empty status.
    ASSERT_FALSE(answers.empty());
    EXPECT_NE(std::find(answers.begin(), answers.end(), 3), answers.end());
    EXPECT_EQ(commands(), (std::vector<std::string>{
                              "tftp -g 192.0.2.1 -l saved.cfg -r saved.cfg",
                              "/usr/sbin/config-file validate saved.cfg >/dev/console 2>&1",
                              "/usr/sbin/config-file restore saved.cfg >/dev/console 2>&1"}));
    EXPECT_EQ(store().get("config", "status"), "");
}

TEST_F(RestoreThreads, QueriesSeeAFailedValidationOnceAndClearIt) {
    g_validationPasses = false;
    ASSERT_EQ(serveRestore(restoreStart()), 0);
    std::vector<uint8_t> answers = queryUntilWorkerDone();
    ASSERT_TRUE(workerDone());
    // The worker writes "failed" just after its validation command: query
    // on (bounded) until one query has reported it.
    for (int i = 0; i < 400 && std::find(answers.begin(), answers.end(), 1) == answers.end(); i++) {
        answers.push_back(serveRestore(restoreQuery()));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_NE(std::find(answers.begin(), answers.end(), 1), answers.end());
    EXPECT_EQ(store().get("config", "status"), "");
    EXPECT_EQ(commands().size(), 2u);
}

}  // namespace
