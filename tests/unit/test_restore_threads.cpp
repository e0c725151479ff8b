// The restore worker and the main thread's queries share the store's connection, the status and
// the command runner: meant for a ThreadSanitizer build (-DTARN_TSAN=ON), a plain walk elsewhere.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "req_func_config.h"
#include "sys_cmd.h"
#include "temp_store.h"
#include "wire.h"

namespace wt = wire::transfer;

namespace {

// The commands run so far, from either thread; with `command`, recorded first.
std::vector<std::string> commands(const char *command = nullptr) {
    static std::mutex mutex;
    static std::vector<std::string> run;
    const std::lock_guard<std::mutex> lock(mutex);
    if (command != nullptr)
        run.emplace_back(command);
    return run;
}

// The result of one restore request for saved.cfg on 192.0.2.1 by TFTP, served on this thread.
uint8_t serveRestore(uint8_t sst) {
    std::array<uint8_t, wire::kMaxDatagram - wire::kHeaderLen> body{
        sst, wt::kServerTftp, wt::kAddrIpv4, 192, 0, 2, 1};
    std::copy_n("saved.cfg", 9, body.begin() + wt::kFileV4);
    wire::message_t req{};  // the loop has checked the type; the handler reads the operation
    req.uOP_Code = wire::OP_CONFIG_RESTORE;
    std::array<uint8_t, wire::kMaxDatagram> reply{};
    EXPECT_EQ(funcConfigUpgrade(&req, body, reply), kTransferReplyLen);
    return wire::load_u8(reply, wire::kHeaderLen + wt::kReplyResult);
}

TEST(RestoreThreads, QueriesFollowTheDetachedWorkerToComplete) {
    store().clear();
    sysSetShellExec([](const char *command) {
        commands(command);
        return 0;
    });
    ASSERT_EQ(serveRestore(wt::SST_CONFIG), 0);
    // Queries until the worker has run its three commands: 2 while busy, 3 once for "complete"
    // (which the query clears), then 2. Bounded: the worker pauses 2 seconds, the ceiling is 20.
    bool sawComplete = false;
    for (int i = 0; i < 4000 && commands().size() < 3; i++) {
        sawComplete = serveRestore(wt::SST_QUERY) == 3 || sawComplete;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(sawComplete);
    EXPECT_EQ(commands(), (std::vector<std::string>{
                              "tftp -g 192.0.2.1 -l saved.cfg -r saved.cfg",
                              "/usr/sbin/config-file validate saved.cfg >/dev/console 2>&1",
                              "/usr/sbin/config-file restore saved.cfg >/dev/console 2>&1"}));
    EXPECT_EQ(store().get("config", "status"), "");
}

}  // namespace
