// Upgrade, backup and restore: request checks, commands run, state written in
// order, the 152-byte replies. The restore worker runs inline here.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <tuple>
#include <vector>

#include "recorded_commands.h"
#include "req_func_config.h"
#include "req_func_firmware.h"
#include "transfer.h"
#include "wire.h"

namespace wt = wire::transfer;

namespace {

bool runWorkerInline(RestoreJob *job) {
    configRestoreWorker(job);
    return true;
}

using Body = std::array<uint8_t, wire::kMaxDatagram - wire::kHeaderLen>;
using Strings = std::vector<std::string>;

// Bodies start with the sub-service (Body{sst}: a query or a bad one), server
// type and address type. A start request names 192.0.2.1 (address type 1) or 2001:db8::1 (type 2).
Body startBody(uint8_t server, uint8_t addrType, const std::string &name) {
    Body b{wt::SST_CONFIG, server, addrType};
    const bool v6 = addrType == wt::kAddrIpv6;
    const std::vector<uint8_t> addr =
        v6 ? std::vector<uint8_t>{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}
           : std::vector<uint8_t>{192, 0, 2, 1};
    std::copy(addr.begin(), addr.end(), b.begin() + wt::kAddr);
    std::copy(name.begin(), name.end(), b.begin() + (v6 ? wt::kFileV6 : wt::kFileV4));
    return b;
}

class Transfers : public CommandTest {
protected:
    void SetUp() override {
        CommandTest::SetUp();
        setRestoreWorkerStart(runWorkerInline);
    }
    void TearDown() override {
        setRestoreWorkerStart(nullptr);
        CommandTest::TearDown();
    }
    // Both calls of the contract as the event loop makes them; the reply's sub-service, result,
    // message.
    std::tuple<uint8_t, uint8_t, std::string> call(uint16_t op, const Body &body) {
        const auto handler = op == 0x100   ? funcFirmwareUpgrade
                             : op == 0x101 ? funcConfigBackup
                                           : funcConfigUpgrade;
        std::array<uint8_t, wire::kMaxDatagram> reply{};
        wire::message_t req{wire::kTypeRequest, 0x1234, op, {}, {}, wire::kAddrUnicast, 0, 0};
        EXPECT_EQ(handler(&req, body, reply), 152u);
        const auto h = wire::decode_header(reply);
        EXPECT_EQ(std::tuple(h.uMsgType, h.uMsgTag, h.uOP_Code, h.uStatus, h.uRetFlag, h.uBodyLen),
                  std::tuple(wire::kTypeReply, 0x1234, op, 0, 2, 130));
        const std::span<const uint8_t> rb =
            std::span<const uint8_t>(reply).subspan(wire::kHeaderLen);
        EXPECT_EQ(rb[129], 0) << "message must end inside its field";
        for (size_t i = 130; i < rb.size(); i++)
            EXPECT_EQ(rb[i], 0) << "byte " << i << " beyond the body";
        EXPECT_EQ(handler(nullptr, {}, {}), 0u);  // the post-send call
        return {rb[0], rb[1], std::string(wire::load_text(rb, 2, 128))};
    }
};

TEST(FileNames, FollowTheRule) {
    const auto safe = [](const std::string &name) {
        std::array<uint8_t, wt::kFileLen> field{};
        std::copy(name.begin(), name.end(), field.begin());
        return isSafeFileName(field);
    };
    for (const char *name : {"dir/fw-1.2_3+b~", "a..b/c", "a/~b"})
        EXPECT_TRUE(safe(name)) << name;
    for (const char *name : {"a;reboot", "$(id)", "../etc/passwd", "a/..", "-O/x", "/abs",
                             "~root/x", "a b", "a\nb", ""})
        EXPECT_FALSE(safe(name)) << name;
    EXPECT_FALSE(safe(std::string(wt::kFileLen, 'a'))) << "fills the field: no terminator";
}

TEST_F(Transfers, HttpUpgradeWalksTheProgressAndFlashes) {
    EXPECT_EQ(call(0x100, startBody(2, 2, "fw.bin")), std::tuple(1, 0, ""));
    EXPECT_EQ(g_commands, (Strings{"/usr/bin/wget -T 60 http://2001:db8::1/fw.bin",  // unbracketed
                                   "/usr/sbin/flash-validate fw.bin >/dev/console 2>&1",
                                   "killall -2 mDNSResponderPosix",
                                   "/usr/sbin/flash-upgrade fw.bin >/dev/console 2>&1 &"}));
    const std::string progress = "firmware-upgrade.progress=";  // and a start never reboots
    EXPECT_EQ(store().takeWrites(),
              (Strings{progress + "Downloading file", progress + "Validating file",
                       progress + "Upgrading firmware"}));
}

// Both flash command lines take an 82-character name whole.
TEST_F(Transfers, HttpUpgradeNamesFitBothFlashCommandLines) {
    const std::string longest(82, 'f');
    EXPECT_EQ(call(0x100, startBody(2, 1, longest)), std::tuple(1, 0, ""));
    ASSERT_EQ(g_commands.size(), 4u);
    EXPECT_EQ(g_commands[1], "/usr/sbin/flash-validate " + longest + " >/dev/console 2>&1");
    EXPECT_EQ(g_commands[3], "/usr/sbin/flash-upgrade " + longest + " >/dev/console 2>&1 &");
    EXPECT_EQ(g_commands[3].size(), 127u);
}

// Refusals, busy answers and queries; the state is the firmware progress for 0x100, else the config
// status.
TEST_F(Transfers, AnswersFromTheStoredStateAndActsAfterTheReply) {
    const std::string longProgress(1500, 'p'), t127(127, 't'),
        bad = "Invalid file name", busy = "\"config upgrade\" is under processing";
    const Strings cleared{"config.status="},
        tftpFlash{"/splashbin/firmware-upgrade tftp://192.0.2.1/" + t127 + " &"};
    const Body fw = startBody(2, 1, "fw.bin");
    const struct {
        uint16_t op;
        std::string state;
        Body body;
        uint8_t result;
        std::string message;
        Strings commands = {};  // all, including the post-send call's
        Strings writes = {};
    } cases[] = {
        {0x100, "1", fw, 1, "\"1\" is under processing", {}, {"system.reboot=yes"}},
        {0x100, longProgress, fw, 1, ("\"" + longProgress).substr(0, 127)},
        {0x100, "2", Body{7}, 1, "Invalid sub-service type 7", {"submit SHUTDOWN"}},
        // The checks run in order: server type, then address type, then name.
        {0x100, "", startBody(3, 9, "a;b"), 1, "Invalid server type 3"},
        {0x100, "", startBody(1, 4, "a;b"), 1, "Invalid server IP address type 4"},
        // A longer HTTP name than both flash command lines take is refused before anything
        // runs; TFTP names are not bounded so.
        {0x100, "", startBody(2, 1, std::string(83, 'f')), 1, bad},
        {0x100, "", startBody(2, 1, std::string(104, 'f')), 1, bad},
        {0x100, "", startBody(2, 1, std::string(127, 'f')), 1, bad},
        {0x100, "", startBody(1, 1, t127), 0, "", tftpFlash},
        // A refused name leaves a finished backup alone; a bad server type clears it.
        {0x101, "complete", startBody(1, 1, "a;b"), 1, bad},
        {0x101, "complete", startBody(5, 1, "b.cfg"), 1, "Invalid server type 5", {}, cleared},
        {0x101, "", Body{2}, 1, "\"config backup\" isn't running"},
        {0x101, "failed", Body{2}, 1, "Backup failed"},
        {0x101, "config upgrade", startBody(1, 1, "r.cfg"), 1, busy},
        // The restore tools take 127 characters of command line: 77 of name at most.
        {0x102, "", startBody(1, 1, std::string(78, 'n')), 1, bad},
        {0x102, "config upgrade", Body{2}, 2, ""},
        {0x102, "config backup", Body{2}, 1, "\"config upgrade\" isn't running: config backup"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases << ": " << c.message);
        SetUp();
        store().set(c.op == 0x100 ? "firmware-upgrade" : "config",
                    c.op == 0x100 ? "progress" : "status", c.state.c_str());
        EXPECT_EQ(call(c.op, c.body), std::tuple(c.body[0], c.result, c.message));
        EXPECT_EQ(g_commands, c.commands);
        EXPECT_EQ(store().takeWrites(), c.writes);
    }
}

TEST_F(Transfers, BackupDumpsUploadsAndCompletes) {
    store().set("config", "status", "complete");
    EXPECT_EQ(call(0x101, startBody(2, 2, "b.cfg")), std::tuple(1, 0, ""));
    EXPECT_EQ(g_commands, (Strings{"/usr/sbin/config-dump b.cfg >/dev/console 2>&1",
                                   "tftp -p 2001:db8::1 -l b.cfg -r b.cfg"}));
    EXPECT_EQ(store().takeWrites(),
              (Strings{"config.status=", "config.status=config backup", "config.status=complete"}));
}

TEST_F(Transfers, RestoreStartRunsTheWorkerWithTheLongestWholeName) {
    const std::string name(77, 'n');
    g_failingPrefix = "/usr/sbin/config-file validate";
    EXPECT_EQ(call(0x102, startBody(2, 1, name)), std::tuple(1, 0, ""));
    EXPECT_EQ(store().takeWrites(), (Strings{"config.status=config upgrade",
                                             "config.status=verifying", "config.status=failed"}));
    EXPECT_EQ(g_commands,
              (Strings{"/usr/bin/wget -T 60 http://192.0.2.1/" + name,
                       "/usr/sbin/config-file validate " + name + " >/dev/console 2>&1"}));
    EXPECT_EQ(g_commands[1].size(), 127u);
}

}  // namespace
