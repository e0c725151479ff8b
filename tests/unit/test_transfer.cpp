// Firmware upgrade, configuration backup and restore: the request checks,
// the command lines they run, the state they write and in which order, and
// the 152-byte replies.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
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

// Commands come from the main thread and from the restore worker.
std::mutex g_mutex;
std::vector<std::string> g_commands;
std::string g_failingPrefix;  // commands starting with it exit with code 1

int recordCommand(const char *command) {
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_commands.emplace_back(command);
    const bool fails = !g_failingPrefix.empty() && std::string(command).starts_with(g_failingPrefix);
    return fails ? 1 << 8 : 0;
}

std::vector<std::string> commands() {
    const std::lock_guard<std::mutex> lock(g_mutex);
    return g_commands;
}

using Body = std::array<uint8_t, wire::kMaxDatagram - wire::kHeaderLen>;

constexpr std::array<uint8_t, 4> kServer4 = {192, 0, 2, 1};
constexpr std::array<uint8_t, 16> kServer6 = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0,
                                              0,    0,    0,    0,    0, 0, 0, 1};

Body startBody(uint8_t server, uint8_t addrType, const std::string &name) {
    Body b{};
    b[wt::kSubService] = wt::SST_CONFIG;
    b[wt::kServerType] = server;
    b[wt::kAddrType] = addrType;
    if (addrType == wt::kAddrIpv6) {
        std::copy(kServer6.begin(), kServer6.end(), b.begin() + wt::kAddr);
        std::copy(name.begin(), name.end(), b.begin() + wt::kFileV6);
    } else {
        std::copy(kServer4.begin(), kServer4.end(), b.begin() + wt::kAddr);
        std::copy(name.begin(), name.end(), b.begin() + wt::kFileV4);
    }
    return b;
}

Body subServiceBody(uint8_t sst) {
    Body b{};
    b[wt::kSubService] = sst;
    return b;
}

wire::message_t requestHeader(uint16_t op) {
    wire::message_t h{};
    h.uMsgType = wire::kTypeRequest;
    h.uMsgTag = 0x1234;
    h.uOP_Code = op;
    h.uStatus = wire::kAddrUnicast;
    return h;
}

struct Reply {
    unsigned len;
    uint8_t sst;
    uint8_t result;
    std::string message;
};

class Transfers : public ::testing::Test {
protected:
    void SetUp() override {
        store().clear();
        {
            const std::lock_guard<std::mutex> lock(g_mutex);
            g_commands.clear();
            g_failingPrefix.clear();
        }
        sysSetShellExec(recordCommand);
    }
    void seed(const char *section, const char *key, const char *value) {
        store().set(section, key, value);
        mark_ = store().journal().size();
    }
    // The values written to (section, key) since the last seed.
    std::vector<std::string> writes(const std::string &section, const std::string &key) const {
        std::vector<std::string> out;
        const auto journal = store().journal();
        for (size_t i = mark_; i < journal.size(); i++) {
            if (journal[i].section == section && journal[i].key == key) {
                out.push_back(journal[i].value);
            }
        }
        return out;
    }
    size_t writeCount() const { return store().journal().size() - mark_; }

    // Both calls of the contract, as the event loop makes them.
    Reply call(unsigned (*handler)(const wire::message_t *, std::span<const uint8_t>,
                                   std::span<uint8_t>),
               uint16_t op, const Body &body) {
        reply_.fill(0);
        const wire::message_t req = requestHeader(op);
        Reply r{};
        r.len = handler(&req, body, reply_);
        const auto h = wire::decode_header(reply_);
        EXPECT_EQ(h.uMsgType, wire::kTypeReply);
        EXPECT_EQ(h.uMsgTag, 0x1234);
        EXPECT_EQ(h.uOP_Code, op);
        EXPECT_EQ(h.uStatus, 0);
        EXPECT_EQ(h.uRetFlag, 2);
        EXPECT_EQ(h.uBodyLen, 130);
        const std::span<const uint8_t> rb = std::span<const uint8_t>(reply_).subspan(wire::kHeaderLen);
        r.sst = rb[0];
        r.result = rb[1];
        r.message = std::string(wire::load_text(rb, 2, 128));
        EXPECT_EQ(rb[129], 0) << "message must end inside its field";
        for (size_t i = 130; i < rb.size(); i++) {
            EXPECT_EQ(rb[i], 0) << "byte " << i << " beyond the body";
        }
        EXPECT_EQ(handler(nullptr, {}, {}), 0u);
        return r;
    }

    size_t mark_ = 0;
    std::array<uint8_t, wire::kMaxDatagram> reply_{};
};

// ---- file names ----------------------------------------------------------

struct NameCase {
    const char *name;
    bool safe;
};

class FileNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(FileNames, FollowTheRule) {
    std::array<uint8_t, wt::kFileLen> field{};
    const std::string name = GetParam().name;
    std::copy(name.begin(), name.end(), field.begin());
    EXPECT_EQ(isSafeFileName(field), GetParam().safe) << name;
}

INSTANTIATE_TEST_SUITE_P(Table, FileNames,
                         ::testing::Values(NameCase{"fw.bin", true},
                                           NameCase{"dir/fw-1.2_3+b~", true},
                                           NameCase{"..fw", true},
                                           NameCase{"a..b/c", true},
                                           NameCase{"a;reboot", false},
                                           NameCase{"$(id)", false},
                                           NameCase{"`id`", false},
                                           NameCase{"../etc/passwd", false},
                                           NameCase{"a/../b", false},
                                           NameCase{"a/..", false},
                                           NameCase{"..", false},
                                           NameCase{"-O/x", false},
                                           NameCase{"/abs", false},
                                           NameCase{"~root/.ssh/authorized_keys", false},
                                           NameCase{"a/~b", true},
                                           NameCase{"a b", false},
                                           NameCase{"a\nb", false},
                                           NameCase{"a|b", false},
                                           NameCase{"a>b", false},
                                           NameCase{"", false}));

TEST(FileNameField, WithoutTerminatorIsRefused) {
    std::array<uint8_t, wt::kFileLen> field;
    field.fill('a');
    EXPECT_FALSE(isSafeFileName(field));
    field[127] = 0;
    EXPECT_TRUE(isSafeFileName(field));
}

// ---- start request parsing -----------------------------------------------

TEST(TransferTargetParse, Ipv4TextAndNameAtOffset7) {
    TransferTarget t;
    ASSERT_EQ(parseTransferTarget(startBody(2, 1, "fw.bin"), t), TargetCheck::Ok);
    EXPECT_STREQ(t.address, "192.0.2.1");
    EXPECT_STREQ(t.fileName, "fw.bin");
}

TEST(TransferTargetParse, Ipv6TextUnbracketedAndNameAtOffset19) {
    TransferTarget t;
    ASSERT_EQ(parseTransferTarget(startBody(1, 2, "fw.bin"), t), TargetCheck::Ok);
    EXPECT_STREQ(t.address, "2001:db8::1");
    EXPECT_STREQ(t.fileName, "fw.bin");
}

struct CheckCase {
    uint8_t server;
    uint8_t addrType;
    const char *name;
    TargetCheck expected;
};

class TargetChecks : public ::testing::TestWithParam<CheckCase> {};

TEST_P(TargetChecks, RunInOrder) {
    const CheckCase &c = GetParam();
    TransferTarget t;
    EXPECT_EQ(parseTransferTarget(startBody(c.server, c.addrType, c.name), t), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TargetChecks,
    ::testing::Values(CheckCase{3, 1, "fw.bin", TargetCheck::BadServerType},
                      CheckCase{0, 9, "a;b", TargetCheck::BadServerType},
                      CheckCase{1, 3, "a;b", TargetCheck::BadAddrType},
                      CheckCase{1, 0, "fw.bin", TargetCheck::BadAddrType},
                      CheckCase{2, 2, "a;b", TargetCheck::BadFileName},
                      CheckCase{1, 1, "fw.bin", TargetCheck::Ok}));

// ---- firmware upgrade ----------------------------------------------------

TEST_F(Transfers, HttpUpgradeDownloadsValidatesAndFlashes) {
    const Reply r = call(funcFirmwareUpgrade, 0x100, startBody(2, 1, "fw.bin"));
    EXPECT_EQ(r.len, 152u);
    EXPECT_EQ(r.sst, 1);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.message, "");
    EXPECT_EQ(commands(), (std::vector<std::string>{
                              "/usr/bin/wget http://192.0.2.1/fw.bin",
                              "/usr/sbin/flash-validate fw.bin >/dev/console 2>&1",
                              "killall -2 mDNSResponderPosix",
                              "/usr/sbin/flash-upgrade fw.bin >/dev/console 2>&1 &",
                          }));
    EXPECT_EQ(writes("firmware-upgrade", "progress"),
              (std::vector<std::string>{"Downloading file", "Validating file", "Upgrading firmware"}));
    EXPECT_EQ(writes("system", "reboot").size(), 0u) << "a start never reboots";
}

TEST_F(Transfers, HttpUpgradeOfRefusedImageAnswersSuccess) {
    g_failingPrefix = "/usr/sbin/flash-validate";
    const Reply r = call(funcFirmwareUpgrade, 0x100, startBody(2, 2, "fw.bin"));
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.message, "");
    EXPECT_EQ(commands(), (std::vector<std::string>{
                              "/usr/bin/wget http://2001:db8::1/fw.bin",
                              "/usr/sbin/flash-validate fw.bin >/dev/console 2>&1",
                          }));
    EXPECT_EQ(writes("firmware-upgrade", "progress"),
              (std::vector<std::string>{"Downloading file", "Validating file", "Validation failed"}));
}

TEST_F(Transfers, LongNameCutsTheFlashCommandAt127) {
    const std::string name(100, 'f');
    call(funcFirmwareUpgrade, 0x100, startBody(2, 1, name));
    const auto cmds = commands();
    ASSERT_EQ(cmds.size(), 4u);
    EXPECT_EQ(cmds[3], ("/usr/sbin/flash-upgrade " + name + " >/dev/console 2>&1 &").substr(0, 127));
}

struct TftpCase {
    uint8_t addrType;
    const char *command;
};

class TftpUpgrade : public Transfers, public ::testing::WithParamInterface<TftpCase> {};

TEST_P(TftpUpgrade, StartsTheToolInTheBackgroundAndWritesNothing) {
    const Reply r = call(funcFirmwareUpgrade, 0x100, startBody(1, GetParam().addrType, "fw.bin"));
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(commands(), std::vector<std::string>{GetParam().command});
    EXPECT_EQ(writeCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TftpUpgrade,
    ::testing::Values(TftpCase{1, "/splashbin/firmware-upgrade tftp://192.0.2.1/fw.bin &"},
                      TftpCase{2, "splashbin/firmware-upgrade tftp://2001:db8::1/fw.bin &"}));

struct FirmwareCase {
    const char *progress;  // seeded value, "" for none
    Body body;
    uint8_t result;
    std::string message;
    std::vector<std::string> commands;  // all, including the post-send call's
    bool reboots;
};

class FirmwareRequests : public Transfers, public ::testing::WithParamInterface<FirmwareCase> {};

TEST_P(FirmwareRequests, AnswerAndActAfterTheReply) {
    const FirmwareCase &c = GetParam();
    if (c.progress[0] != '\0') {
        seed("firmware-upgrade", "progress", c.progress);
    }
    const Reply r = call(funcFirmwareUpgrade, 0x100, c.body);
    EXPECT_EQ(r.sst, c.body[0]);
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(r.message, c.message);
    EXPECT_EQ(commands(), c.commands);
    EXPECT_EQ(writes("system", "reboot"), c.reboots ? std::vector<std::string>{"yes"}
                                                    : std::vector<std::string>{});
    EXPECT_EQ(writes("firmware-upgrade", "progress").size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FirmwareRequests,
    ::testing::Values(
        FirmwareCase{"Validation failed", startBody(2, 1, "fw.bin"), 1,
                     "\"Validation failed\" is under processing", {}, false},
        FirmwareCase{"1", startBody(2, 1, "fw.bin"), 1, "\"1\" is under processing", {}, true},
        FirmwareCase{"Upgrading firmware", subServiceBody(2), 2, "", {}, false},
        FirmwareCase{"1", subServiceBody(2), 2, "", {}, true},
        FirmwareCase{"2", subServiceBody(7), 1, "Invalid sub-service type 7", {"submit SHUTDOWN"}, false},
        FirmwareCase{"", startBody(3, 1, "fw.bin"), 1, "Invalid server type 3", {}, false},
        FirmwareCase{"", startBody(1, 4, "fw.bin"), 1, "Invalid server IP address type 4", {}, false},
        FirmwareCase{"", subServiceBody(0), 1, "Invalid sub-service type 0", {}, false}));

TEST_F(Transfers, BusyMessageStaysInsideItsField) {
    const std::string longProgress(1500, 'p');
    seed("firmware-upgrade", "progress", longProgress.c_str());
    const Reply r = call(funcFirmwareUpgrade, 0x100, startBody(2, 1, "fw.bin"));
    EXPECT_EQ(r.message, ("\"" + longProgress).substr(0, 127));
}

// ---- refused file names: nothing runs, nothing is written ----------------

struct RefusedCase {
    uint16_t op;
    uint8_t server;
    uint8_t addrType;
    const char *name;
};

// The validation and restore tools take at most 127 characters of command
// line: 77 characters of file name is the most that stays whole.
const std::string kLongestRestoreName(77, 'n');
const std::string kTooLongRestoreName(78, 'n');

class RefusedNames : public Transfers, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedNames, RunNothingAndWriteNothing) {
    const RefusedCase &c = GetParam();
    // A finished backup would be cleared by a valid start.
    seed("config", "status", c.op == 0x101 ? "complete" : "");
    auto handler = c.op == 0x100 ? funcFirmwareUpgrade
                 : c.op == 0x101 ? funcConfigBackup
                                 : funcConfigUpgrade;
    const Reply r = call(handler, c.op, startBody(c.server, c.addrType, c.name));
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.message, "Invalid file name");
    EXPECT_EQ(commands().size(), 0u);
    EXPECT_EQ(writeCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, RefusedNames,
                         ::testing::Values(RefusedCase{0x100, 2, 1, "a;reboot"},
                                           RefusedCase{0x100, 1, 2, "$(id)"},
                                           RefusedCase{0x101, 1, 1, "../etc/passwd"},
                                           RefusedCase{0x101, 2, 2, "-O/x"},
                                           RefusedCase{0x102, 2, 1, "a b"},
                                           RefusedCase{0x102, 1, 1, "/abs"},
                                           RefusedCase{0x102, 1, 1, kTooLongRestoreName.c_str()}));

// ---- configuration backup ------------------------------------------------

TEST_F(Transfers, BackupDumpsUploadsAndCompletes) {
    seed("config", "status", "complete");
    const Reply r = call(funcConfigBackup, 0x101, startBody(2, 2, "b.cfg"));
    EXPECT_EQ(r.len, 152u);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.message, "");
    EXPECT_EQ(commands(), (std::vector<std::string>{
                              "/usr/sbin/config-dump b.cfg >/dev/console 2>&1",
                              "tftp -p 2001:db8::1 -l b.cfg -r b.cfg",
                          }));
    EXPECT_EQ(writes("config", "status"),
              (std::vector<std::string>{"", "config backup", "complete"}));
}

TEST_F(Transfers, BackupBadServerStillClearsAFinishedBackup) {
    seed("config", "status", "complete");
    const Reply r = call(funcConfigBackup, 0x101, startBody(5, 1, "b.cfg"));
    EXPECT_EQ(r.message, "Invalid server type 5");
    EXPECT_EQ(writes("config", "status"), std::vector<std::string>{""});
    EXPECT_EQ(commands().size(), 0u);
}

struct QueryCase {
    const char *status;
    uint8_t result;
    const char *message;
    std::optional<std::string> after;  // status after the query
};

class BackupQuery : public Transfers, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(BackupQuery, Answers) {
    const QueryCase &c = GetParam();
    seed("config", "status", c.status);
    const Reply r = call(funcConfigBackup, 0x101, subServiceBody(2));
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(r.message, c.message);
    EXPECT_EQ(store().get("config", "status"), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BackupQuery,
    ::testing::Values(QueryCase{"", 1, "\"config backup\" isn't running", ""},
                      QueryCase{"complete", 0, "", "complete"},
                      QueryCase{"failed", 1, "Backup failed", "failed"},
                      QueryCase{"config backup", 1, "", "config backup"},
                      QueryCase{"verifying", 1, "", "verifying"}));

TEST_F(Transfers, BackupStartWhileRestoring) {
    seed("config", "status", "config upgrade");
    const Reply r = call(funcConfigBackup, 0x101, startBody(1, 1, "b.cfg"));
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.message, "\"config upgrade\" is under processing");
    EXPECT_EQ(writeCount(), 0u);
}

// ---- configuration restore -----------------------------------------------

class RestoreQuery : public Transfers, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(RestoreQuery, AnswersAndClearsFinishedStates) {
    const QueryCase &c = GetParam();
    seed("config", "status", c.status);
    const Reply r = call(funcConfigUpgrade, 0x102, subServiceBody(2));
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(r.message, c.message);
    EXPECT_EQ(store().get("config", "status"), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RestoreQuery,
    ::testing::Values(QueryCase{"", 2, "", ""},
                      QueryCase{"config upgrade", 2, "", "config upgrade"},
                      QueryCase{"verifying", 2, "", "verifying"},
                      QueryCase{"complete", 3, "", ""},
                      QueryCase{"failed", 1, "Verify failed", ""},
                      QueryCase{"config backup", 1,
                                "\"config upgrade\" isn't running: config backup",
                                "config backup"}));

TEST_F(Transfers, RestoreStartWhileBackupComplete) {
    seed("config", "status", "complete");
    const Reply r = call(funcConfigUpgrade, 0x102, startBody(1, 1, "r.cfg"));
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.message, "\"complete\" is under processing");
    EXPECT_EQ(writeCount(), 0u);
}

// The worker runs on its own thread: wait, within bounds, for its last word.
std::optional<std::string> awaitStatus(const std::string &want) {
    std::optional<std::string> status;
    for (int i = 0; i < 100; i++) {
        status = store().get("config", "status");
        if (status == want) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return status;
}

TEST_F(Transfers, RestoreStartHandsTheJobToTheWorker) {
    g_failingPrefix = "/usr/sbin/config-file validate";
    const Reply r = call(funcConfigUpgrade, 0x102, startBody(2, 1, "r.cfg"));
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.message, "");
    EXPECT_EQ(awaitStatus("failed"), "failed");
    EXPECT_EQ(writes("config", "status"),
              (std::vector<std::string>{"config upgrade", "verifying", "failed"}));
    EXPECT_EQ(commands(), (std::vector<std::string>{
                              "/usr/bin/wget http://192.0.2.1/r.cfg",
                              "/usr/sbin/config-file validate r.cfg >/dev/console 2>&1",
                          }));
}

TEST_F(Transfers, RestoreTakesTheLongestNameItsToolsRunWhole) {
    g_failingPrefix = "/usr/sbin/config-file validate";
    const Reply r = call(funcConfigUpgrade, 0x102, startBody(2, 1, kLongestRestoreName.c_str()));
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(awaitStatus("failed"), "failed");
    const std::vector<std::string> run = commands();
    ASSERT_EQ(run.size(), 2u);
    EXPECT_EQ(run[1], "/usr/sbin/config-file validate " + kLongestRestoreName + " >/dev/console 2>&1");
    EXPECT_EQ(run[1].size(), 127u);
}

RestoreJob *job(uint8_t server, uint8_t addrType, const char *address, const char *name) {
    auto *j = new RestoreJob{};
    j->uServerType = server;
    j->uAddrType = addrType;
    std::strcpy(addrType == 1 ? j->ipv4 : j->ipv6, address);
    std::strcpy(j->fileName, name);
    return j;
}

TEST_F(Transfers, WorkerRestoresAValidFileOverTftpIpv6) {
    configRestoreWorker(job(1, 2, "2001:db8::1", "r.cfg"));
    EXPECT_EQ(commands(), (std::vector<std::string>{
                              "tftp -g 2001:db8::1 -l r.cfg -r r.cfg",
                              "/usr/sbin/config-file validate r.cfg >/dev/console 2>&1",
                              "/usr/sbin/config-file restore r.cfg >/dev/console 2>&1",
                          }));
    EXPECT_EQ(writes("config", "status"), (std::vector<std::string>{"verifying", "complete"}));
}

TEST_F(Transfers, WorkerRefusesAFileThatFailsValidation) {
    g_failingPrefix = "/usr/sbin/config-file validate";
    configRestoreWorker(job(1, 1, "192.0.2.1", "r.cfg"));
    EXPECT_EQ(commands(), (std::vector<std::string>{
                              "tftp -g 192.0.2.1 -l r.cfg -r r.cfg",
                              "/usr/sbin/config-file validate r.cfg >/dev/console 2>&1",
                          }));
    EXPECT_EQ(writes("config", "status"), (std::vector<std::string>{"verifying", "failed"}));
}

}  // namespace
