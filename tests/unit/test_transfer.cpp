// Firmware upgrade, configuration backup and restore: the request checks,
// the command lines they run, the state they write and in which order, and
// the 152-byte replies. The restore worker runs inline here; its thread is
// exercised by test_restore_threads.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "req_func_config.h"
#include "req_func_firmware.h"
#include "sys_cmd.h"
#include "temp_store.h"
#include "transfer.h"
#include "wire.h"

namespace wt = wire::transfer;

namespace {

TempStore &store() {
    static TempStore s;
    return s;
}

std::vector<std::string> g_commands;
std::string g_failingPrefix;  // commands starting with it exit with code 1

int recordCommand(const char *command) {
    g_commands.emplace_back(command);
    return !g_failingPrefix.empty() && std::string(command).starts_with(g_failingPrefix) ? 1 << 8 : 0;
}

bool runWorkerInline(RestoreJob *job) {
    configRestoreWorker(job);
    return true;
}

using Body = std::array<uint8_t, wire::kMaxDatagram - wire::kHeaderLen>;
using Handler = unsigned (*)(const wire::message_t *, std::span<const uint8_t>, std::span<uint8_t>);
using Strings = std::vector<std::string>;

// Bodies start with the sub-service, server type and address type. A start
// request names 192.0.2.1 (address type 1) or 2001:db8::1 (type 2).
Body startBody(uint8_t server, uint8_t addrType, const std::string &name) {
    Body b{wt::SST_CONFIG, server, addrType};
    const bool v6 = addrType == wt::kAddrIpv6;
    const std::vector<uint8_t> addr = v6 ? std::vector<uint8_t>{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}
                                         : std::vector<uint8_t>{192, 0, 2, 1};
    std::copy(addr.begin(), addr.end(), b.begin() + wt::kAddr);
    std::copy(name.begin(), name.end(), b.begin() + (v6 ? wt::kFileV6 : wt::kFileV4));
    return b;
}

Body subServiceBody(uint8_t sst) { return Body{sst}; }

struct Reply {
    uint8_t sst;
    uint8_t result;
    std::string message;
};

class Transfers : public ::testing::Test {
protected:
    void SetUp() override {
        store().clear();
        g_commands.clear();
        g_failingPrefix.clear();
        sysSetShellExec(recordCommand);
        setRestoreWorkerStart(runWorkerInline);
    }
    void TearDown() override { setRestoreWorkerStart(nullptr); }
    void seed(const char *section, const char *key, const char *value) {
        store().set(section, key, value);
        mark_ = store().journal().size();
    }
    // The values written to (section, key) since the last seed.
    Strings writes(const std::string &section, const std::string &key) const {
        Strings out;
        const auto journal = store().journal();
        for (size_t i = mark_; i < journal.size(); i++)
            if (journal[i].section == section && journal[i].key == key)
                out.push_back(journal[i].value);
        return out;
    }
    size_t writeCount() const { return store().journal().size() - mark_; }

    // Both calls of the contract, as the event loop makes them.
    Reply call(Handler handler, uint16_t op, const Body &body) {
        std::array<uint8_t, wire::kMaxDatagram> reply{};
        wire::message_t req{};
        req.uMsgType = wire::kTypeRequest;
        req.uMsgTag = 0x1234;
        req.uOP_Code = op;
        req.uStatus = wire::kAddrUnicast;
        EXPECT_EQ(handler(&req, body, reply), 152u);
        const auto h = wire::decode_header(reply);
        EXPECT_EQ(std::tuple(h.uMsgType, h.uMsgTag, h.uOP_Code, h.uStatus, h.uRetFlag, h.uBodyLen),
                  std::tuple(wire::kTypeReply, 0x1234, op, 0, 2, 130));
        const std::span<const uint8_t> rb = std::span<const uint8_t>(reply).subspan(wire::kHeaderLen);
        EXPECT_EQ(rb[129], 0) << "message must end inside its field";
        for (size_t i = 130; i < rb.size(); i++)
            EXPECT_EQ(rb[i], 0) << "byte " << i << " beyond the body";
        EXPECT_EQ(handler(nullptr, {}, {}), 0u);  // the post-send call
        return {rb[0], rb[1], std::string(wire::load_text(rb, 2, 128))};
    }

    size_t mark_ = 0;
};

// ---- file names ----------------------------------------------------------

TEST(FileNames, FollowTheRule) {
    for (const auto &[name, safe] : std::vector<std::pair<std::string, bool>>{
             {"dir/fw-1.2_3+b~", true}, {"a..b/c", true}, {"a/~b", true}, {"a;reboot", false},
             {"$(id)", false}, {"../etc/passwd", false}, {"a/..", false}, {"-O/x", false},
             {"/abs", false}, {"~root/x", false}, {"a b", false}, {"a\nb", false}, {"", false}}) {
        std::array<uint8_t, wt::kFileLen> field{};
        std::copy(name.begin(), name.end(), field.begin());
        EXPECT_EQ(isSafeFileName(field), safe) << name;
    }
    std::array<uint8_t, wt::kFileLen> unterminated;
    unterminated.fill('a');
    EXPECT_FALSE(isSafeFileName(unterminated));
}

// The validation and restore tools take at most 127 characters of command
// line: 77 characters of file name is the most that stays whole.
TEST_F(Transfers, RefusedNamesRunNothingAndWriteNothing) {
    const std::pair<Handler, uint16_t> handlers[] = {
        {funcFirmwareUpgrade, 0x100}, {funcConfigBackup, 0x101}, {funcConfigUpgrade, 0x102}};
    for (const auto &[handler, op] : handlers) {
        seed("config", "status", op == 0x101 ? "complete" : "");  // a valid backup start clears it
        const Reply r = call(handler, op, startBody(1, 1, op == 0x102 ? std::string(78, 'n') : "a;b"));
        EXPECT_EQ(r.result, 1) << op;
        EXPECT_EQ(r.message, "Invalid file name") << op;
        EXPECT_EQ(writeCount(), 0u) << op;
    }
    EXPECT_TRUE(g_commands.empty());
}

// ---- firmware upgrade ----------------------------------------------------

TEST_F(Transfers, HttpUpgradeWalksTheProgressAndFlashes) {
    const Reply r = call(funcFirmwareUpgrade, 0x100, startBody(2, 2, "fw.bin"));
    EXPECT_EQ(r.sst, 1);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.message, "");
    EXPECT_EQ(g_commands, (Strings{"/usr/bin/wget http://2001:db8::1/fw.bin",  // unbracketed
                                   "/usr/sbin/flash-validate fw.bin >/dev/console 2>&1",
                                   "killall -2 mDNSResponderPosix",
                                   "/usr/sbin/flash-upgrade fw.bin >/dev/console 2>&1 &"}));
    EXPECT_EQ(writes("firmware-upgrade", "progress"),
              (Strings{"Downloading file", "Validating file", "Upgrading firmware"}));
    EXPECT_TRUE(writes("system", "reboot").empty()) << "a start never reboots";
}

TEST_F(Transfers, LongNameCutsTheFlashCommandAt127) {
    const std::string name(100, 'f');
    call(funcFirmwareUpgrade, 0x100, startBody(2, 1, name));
    ASSERT_EQ(g_commands.size(), 4u);
    EXPECT_EQ(g_commands[3], ("/usr/sbin/flash-upgrade " + name + " >/dev/console 2>&1 &").substr(0, 127));
}

const std::string kLongProgress(1500, 'p');

struct FirmwareCase {
    const char *progress;  // seeded value, "" for none
    Body body;
    uint8_t result;
    std::string message;
    Strings commands;  // all, including the post-send call's
    bool reboots;
};

class FirmwareRequests : public Transfers, public ::testing::WithParamInterface<FirmwareCase> {};

TEST_P(FirmwareRequests, AnswerAndActAfterTheReply) {
    const FirmwareCase &c = GetParam();
    if (c.progress[0] != '\0')
        seed("firmware-upgrade", "progress", c.progress);
    const Reply r = call(funcFirmwareUpgrade, 0x100, c.body);
    EXPECT_EQ(r.sst, c.body[0]);
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(r.message, c.message);
    EXPECT_EQ(g_commands, c.commands);
    EXPECT_EQ(writes("system", "reboot"), c.reboots ? Strings{"yes"} : Strings{});
    EXPECT_TRUE(writes("firmware-upgrade", "progress").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, FirmwareRequests,
    ::testing::Values(
        FirmwareCase{"Validation failed", startBody(2, 1, "fw.bin"), 1,
                     "\"Validation failed\" is under processing", {}, false},
        FirmwareCase{"1", startBody(2, 1, "fw.bin"), 1, "\"1\" is under processing", {}, true},
        FirmwareCase{kLongProgress.c_str(), startBody(2, 1, "fw.bin"), 1, ("\"" + kLongProgress).substr(0, 127), {}, false},
        FirmwareCase{"Upgrading firmware", subServiceBody(2), 2, "", {}, false},
        FirmwareCase{"1", subServiceBody(2), 2, "", {}, true},
        FirmwareCase{"2", subServiceBody(7), 1, "Invalid sub-service type 7", {"submit SHUTDOWN"}, false},
        FirmwareCase{"", subServiceBody(0), 1, "Invalid sub-service type 0", {}, false},
        // The checks run in order: server type, then address type, then name.
        FirmwareCase{"", startBody(3, 9, "a;b"), 1, "Invalid server type 3", {}, false},
        FirmwareCase{"", startBody(1, 4, "a;b"), 1, "Invalid server IP address type 4", {}, false}));

// ---- configuration backup ------------------------------------------------

TEST_F(Transfers, BackupDumpsUploadsAndCompletes) {
    seed("config", "status", "complete");
    const Reply r = call(funcConfigBackup, 0x101, startBody(2, 2, "b.cfg"));
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.message, "");
    EXPECT_EQ(g_commands, (Strings{"/usr/sbin/config-dump b.cfg >/dev/console 2>&1",
                                   "tftp -p 2001:db8::1 -l b.cfg -r b.cfg"}));
    EXPECT_EQ(writes("config", "status"), (Strings{"", "config backup", "complete"}));
}

TEST_F(Transfers, BackupBadServerStillClearsAFinishedBackup) {
    seed("config", "status", "complete");
    EXPECT_EQ(call(funcConfigBackup, 0x101, startBody(5, 1, "b.cfg")).message, "Invalid server type 5");
    EXPECT_EQ(writes("config", "status"), Strings{""});
    EXPECT_TRUE(g_commands.empty());
}

// ---- shared status: busy starts and query answers --------------------------

struct QueryCase {
    uint16_t op;
    const char *status;
    uint8_t sst;
    uint8_t result;
    const char *message;
    std::optional<std::string> after;  // status after the request
};

class StatusAnswers : public Transfers, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(StatusAnswers, AnswerAndClearFinishedStates) {
    const QueryCase &c = GetParam();
    seed("config", "status", c.status);
    const Reply r = call(c.op == 0x101 ? funcConfigBackup : funcConfigUpgrade, c.op,
                         c.sst == wt::SST_QUERY ? subServiceBody(c.sst) : startBody(1, 1, "r.cfg"));
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(r.message, c.message);
    EXPECT_EQ(store().get("config", "status"), c.after);
    if (c.sst == wt::SST_CONFIG) {
        EXPECT_EQ(writeCount(), 0u);
    }
    EXPECT_TRUE(g_commands.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, StatusAnswers,
    ::testing::Values(QueryCase{0x101, "", 2, 1, "\"config backup\" isn't running", ""},
                      QueryCase{0x101, "complete", 2, 0, "", "complete"},
                      QueryCase{0x101, "failed", 2, 1, "Backup failed", "failed"},
                      QueryCase{0x101, "config upgrade", 1, 1, "\"config upgrade\" is under processing",
                                "config upgrade"},
                      QueryCase{0x102, "", 2, 2, "", ""},
                      QueryCase{0x102, "config upgrade", 2, 2, "", "config upgrade"},
                      QueryCase{0x102, "complete", 2, 3, "", ""},
                      QueryCase{0x102, "failed", 2, 1, "Verify failed", ""},
                      QueryCase{0x102, "config backup", 2, 1,
                                "\"config upgrade\" isn't running: config backup", "config backup"}));

// ---- configuration restore -----------------------------------------------

TEST_F(Transfers, RestoreStartRunsTheWorkerWithTheLongestWholeName) {
    const std::string name(77, 'n');
    g_failingPrefix = "/usr/sbin/config-file validate";
    const Reply r = call(funcConfigUpgrade, 0x102, startBody(2, 1, name));
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.message, "");
    EXPECT_EQ(writes("config", "status"), (Strings{"config upgrade", "verifying", "failed"}));
    EXPECT_EQ(g_commands, (Strings{"/usr/bin/wget http://192.0.2.1/" + name,
                                   "/usr/sbin/config-file validate " + name + " >/dev/console 2>&1"}));
    EXPECT_EQ(g_commands[1].size(), 127u);
}

TEST_F(Transfers, WorkerRestoresAValidFileOverTftpIpv6) {
    auto *job = new RestoreJob{1, 2, "", "2001:db8::1", "r.cfg"};
    configRestoreWorker(job);
    EXPECT_EQ(g_commands, (Strings{"tftp -g 2001:db8::1 -l r.cfg -r r.cfg",
                                   "/usr/sbin/config-file validate r.cfg >/dev/console 2>&1",
                                   "/usr/sbin/config-file restore r.cfg >/dev/console 2>&1"}));
    EXPECT_EQ(writes("config", "status"), (Strings{"verifying", "complete"}));
}

}  // namespace
