// Handlers against a real settings store: the store writes and their order,
// the command lines run, what waits for the call after the reply, the trace.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "debug.h"
#include "handler_table.h"
#include "req_func_account.h"
#include "req_func_network.h"
#include "req_func_reboot.h"
#include "sys_cmd.h"
#include "temp_store.h"
#include "wire.h"

namespace {

TempStore &store() {
    static TempStore s;
    return s;
}

struct Write {
    std::string section, key, value;
    bool operator==(const Write &) const = default;
};
std::ostream &operator<<(std::ostream &os, const Write &w) {
    return os << "{" << w.section << ", " << w.key << ", \"" << w.value << "\"}";
}

size_t g_mark = 0;
void mark() { g_mark = store().journal().size(); }
std::vector<Write> writes() {
    const std::vector<JournalEntry> journal = store().journal();
    std::vector<Write> out;
    for (const JournalEntry &e : std::span(journal).subspan(g_mark))
        out.push_back({e.section, e.key, e.value});
    return out;
}

std::vector<std::string> g_commands;
int recordCommand(const char *command) {
    g_commands.emplace_back(command);
    return 0;
}

// A handler call as the event loop makes it: the body area runs to the end
// of a cleared receive buffer, the reply buffer is cleared.
struct Call {
    std::array<uint8_t, wire::kMaxDatagram> receive{}, reply{};
    unsigned length = 0;

    Call(RequestHandler handler, uint16_t op, std::span<const uint8_t> body = {},
         size_t bodyOff = wire::kBodyOffAuth) {
        std::copy(body.begin(), body.end(), receive.begin() + static_cast<long>(bodyOff));
        wire::message_t h{};
        h.uMsgType = wire::kTypeRequest;
        h.uOP_Code = op;
        h.uBodyLen = static_cast<uint16_t>(body.size());
        length = handler(&h, std::span<const uint8_t>(receive).subspan(bodyOff), reply);
    }
    // The result word, then nothing but zeros to the end of the buffer.
    uint32_t result() const {
        EXPECT_EQ(length, wire::kHeaderLen + 16);
        const auto body = std::span<const uint8_t>(reply).subspan(wire::kHeaderLen);
        for (size_t i = 4; i < body.size(); i++)
            EXPECT_EQ(body[i], 0) << "body byte " << i;
        return wire::load_le32(body, 0);
    }
};

// The call the event loop makes after the reply has left.
unsigned secondCall(RequestHandler handler) { return handler(nullptr, {}, {}); }

std::string base64(const std::string &text) {
    std::vector<unsigned char> out(4 * ((text.size() + 2) / 3) + 1);
    int n = EVP_EncodeBlock(out.data(), reinterpret_cast<const unsigned char *>(text.data()),
                            static_cast<int>(text.size()));
    return std::string(reinterpret_cast<char *>(out.data()), static_cast<size_t>(n));
}

class Handlers : public ::testing::Test {
protected:
    void SetUp() override {
        store().clear();
        g_commands.clear();
        sysSetShellExec(&recordCommand);
        // A reset without IP on a static device saves the address: into the
        // test's own folder, never at the host's fixed path.
        static const std::string kept = std::filesystem::path(store().path()).parent_path() / "reserved_IP";
        setReservedIpSaveFile(kept.c_str());
        mark();
    }
    void TearDown() override { sysSetShellExec(nullptr); }
};

TEST_F(Handlers, SetBasicInfoWritesInOrder) {
    namespace bi = wire::basic_info;
    using Fields = std::vector<std::pair<size_t, std::vector<uint8_t>>>;
    const std::vector<uint8_t> v6Addr = {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5};
    const std::vector<uint8_t> v6Gw = {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const std::string fullName(64, 'n');  // fills its field: taken to the field's width
    const struct {
        const char *name;
        Fields fields;
        std::vector<Write> expected;
    } cases[] = {
        // Any non-zero DHCP byte is on, and DHCP writes no static group.
        {"Dhcp",
         {{bi::kSystemName, {fullName.begin(), fullName.end()}}, {bi::kDhcp, {0xFF}},
          {bi::kIp, {10, 0, 0, 2}}, {bi::kIpv6Auto, {7}}},
         {{"system", "system-name", fullName}, {"management", "dhcp-status", "up"},
          {"host", "dns-via-dhcp", "up"}, {"management", "ipv6-autoconfig-status", "up"}}},
        {"StaticEverything",
         {{bi::kSystemName, {'h', 'a', 'l', 'l'}}, {bi::kIp, {192, 168, 0, 50}},
          {bi::kMask, {255, 255, 255, 0}}, {bi::kGateway, {192, 168, 0, 1}}, {bi::kStaticDns, {1}},
          {bi::kDns1, {8, 8, 4, 4}}, {bi::kDns2, {8, 8, 8, 8}}, {bi::kIpv6, v6Addr},
          {bi::kIpv6Prefix, {64}}, {bi::kIpv6Gateway, v6Gw}},
         {{"system", "system-name", "hall"}, {"management", "dhcp-status", "down"},
          {"management", "static-ip", "192.168.0.50"}, {"static-ip-route", "mask", "255.255.255.0"},
          {"static-ip-route", "gateway", "192.168.0.1"}, {"host", "static-dns-1", "8.8.4.4"},
          {"host", "static-dns-2", "8.8.8.8"}, {"host", "dns-via-dhcp", "down"},
          {"management", "ipv6-autoconfig-status", "down"}, {"management", "static-ipv6", "fd00::5"},
          {"management", "static-ipv6-prefix-length", "64"}, {"static-ipv6-route", "gateway", ""}}},
        // All zeros: the unspecified IPv6 address "::" ends the IPv6 group.
        {"AllZero",
         {},
         {{"system", "system-name", ""}, {"management", "dhcp-status", "down"},
          {"management", "static-ip", "0.0.0.0"}, {"static-ip-route", "mask", "0.0.0.0"},
          {"static-ip-route", "gateway", "0.0.0.0"}, {"host", "dns-via-dhcp", "up"},
          {"management", "ipv6-autoconfig-status", "down"}}},
    };
    for (const auto &p : cases) {
        SCOPED_TRACE(p.name);
        std::vector<uint8_t> body(bi::kBodyLen, 0);
        for (const auto &[off, value] : p.fields)
            std::copy(value.begin(), value.end(), body.begin() + static_cast<long>(off));
        mark();
        Call c(funcSetBasicInfo, wire::OP_SET_BASIC_INFO, body);
        EXPECT_EQ(c.result(), 0u);
        EXPECT_EQ(writes(), p.expected);
        mark();
        EXPECT_EQ(secondCall(funcSetBasicInfo), 0u);
        EXPECT_TRUE(writes().empty());
    }
}

TEST_F(Handlers, ChangeAdminResultAndCommandLine) {
    struct Case {
        std::string user64, password;
        uint32_t result;
        const char *command;  // null: nothing run
    };
    std::vector<Case> cases = {
        {base64("admin"), "n3wSecret", 0, "submit SET_PASSWD 'admin' 'n3wSecret'"},
        {base64("admin"), "a$b`c", 0, "submit SET_PASSWD 'admin' 'a\\$b\\`c'"},
        {base64("admin"), std::string(48, 'p'), 0,
         "submit SET_PASSWD 'admin' 'pppppppppppppppppppppppppppppppppppppppppppppppp'"},
        {base64("Admin"), "fine", 1001, nullptr},
        {"!!!!", "fine", 1001, nullptr},  // an undecodable user is not the admin
        {base64("root"), "a:b", 1001, nullptr},  // the user is checked first
    };
    for (char bad : std::string("@:-/\\%\"'"))
        cases.push_back({base64("admin"), std::string("a") + bad + "b", 1006, nullptr});
    for (const Case &p : cases) {
        SCOPED_TRACE(p.password);
        const std::string password64 = base64(p.password);
        std::vector<uint8_t> body(wire::change_admin::kBodyLen, 0);
        std::copy(p.user64.begin(), p.user64.end(), body.begin());
        std::copy(password64.begin(), password64.end(), body.begin() + wire::change_admin::kPassword);
        g_commands.clear();
        Call c(funcChangeAdmin, wire::OP_CHANGE_ADMIN, body);
        EXPECT_EQ(c.result(), p.result);
        EXPECT_EQ(g_commands, p.command ? std::vector<std::string>{p.command} : std::vector<std::string>{});
        g_commands.clear();
        EXPECT_EQ(secondCall(funcChangeAdmin), 0u);
        EXPECT_TRUE(g_commands.empty());
    }
    EXPECT_TRUE(writes().empty());
}

TEST_F(Handlers, DeferredActionsOnlyAfterTheReply) {
    const Write reset = {"system", "factory-reset", "yes"};
    const struct {
        const char *name;
        RequestHandler handler;
        uint16_t op;
        std::vector<Write> seed, first, second;
    } cases[] = {
        {"FactoryReset", funcFactoryReset, wire::OP_FACTORY_RESET, {}, {}, {reset}},
        {"ResetKeepIpOnDhcp", funcFactoryResetWithoutIP, wire::OP_FACTORY_RESET_KEEP_IP,
         {{"management", "dhcp-status", "up"}, {"management", "static-ip", "10.0.0.2"}}, {}, {reset}},
        {"Reboot", funcReboot, wire::OP_REBOOT, {}, {}, {{"system", "reboot", "yes"}}},
        // Commit saves before replying, and not again after.
        {"Commit", funcCommitSettings, wire::OP_COMMIT, {}, {{"config", "startup", "running"}}, {}},
    };
    for (const auto &p : cases) {
        SCOPED_TRACE(p.name);
        store().clear();
        for (const Write &w : p.seed)
            store().set(w.section.c_str(), w.key.c_str(), w.value.c_str());
        mark();
        Call c(p.handler, p.op, {}, p.handler == funcReboot ? wire::kBodyOffPlain : wire::kBodyOffAuth);
        EXPECT_EQ(c.result(), 0u);
        EXPECT_EQ(writes(), p.first);
        mark();
        EXPECT_EQ(secondCall(p.handler), 0u);
        EXPECT_EQ(writes(), p.second);
    }
    EXPECT_TRUE(g_commands.empty());
}

// Each handler names itself in the debug trace at the start of the request
// call and again in the call after the reply, whatever else it prints.
TEST_F(Handlers, EveryHandlerTracesItsOwnNameOnBothCalls) {
    const std::pair<uint16_t, const char *> names[] = {
        {0xA1, "funcDiscover"}, {0xA2, "funcSetBasicInfo"}, {0xA3, "funcUserVerify"},
        {0xA4, "funcChangeAdmin"}, {0xA5, "funcQuerySupportedFunc"}, {0xA6, "funcGetNetAdvSettings"},
        {0xA7, "funcSetNetAdvSettings"}, {0xAA, "funcFactoryResetWithoutIP"}, {0xAB, "funcFactoryReset"},
        {0xAC, "funcGetDateTime"}, {0xAD, "funcSetDateTime"}, {0xC0, "funcCommitSettings"},
        {0xC9, "funcQueryNetStatus"}, {0xD0, "funcQueryNeighbor"}, {0xD1, "funcSetMultiSSID_Config"},
        {0xD2, "funcVLAN_Config"}, {0xD4, "funcSNMP_Config"}, {0xD8, "funcGetMultiSSID_Config"},
        {0x100, "funcFirmwareUpgrade"}, {0x101, "funcConfigBackup"}, {0x102, "funcConfigUpgrade"},
        {0x103, "funcReboot"}};
    size_t checked = 0;
    g_debugLevel = 1;
    for (const auto &[op, name] : names) {
        const HandlerEntry *e = findHandler(op);
        ASSERT_NE(e, nullptr) << name;
        const std::string line = std::string("tarnd: FUNC:") + name + "...\n";
        ::testing::internal::CaptureStdout();  // the date/time request echoes itself there
        ::testing::internal::CaptureStderr();
        // An all-zero body: no transfer starts, no password changes.
        Call c(e->handler, op, {}, e->auth != 0 ? wire::kBodyOffAuth : wire::kBodyOffPlain);
        EXPECT_NE(c.length, 0u) << name;
        secondCall(e->handler);
        const std::string err = ::testing::internal::GetCapturedStderr();
        ::testing::internal::GetCapturedStdout();
        EXPECT_TRUE(err.starts_with(line)) << err;
        const size_t second = err.find(line, line.size());
        EXPECT_NE(second, std::string::npos) << err;
        EXPECT_EQ(err.find(line, second + line.size()), std::string::npos) << err;
        ++checked;
    }
    g_debugLevel = 0;
    // The whole table, so a new operation gets its name checked too.
    size_t entries = 0;
    for (const HandlerEntry *e = HandlerTable; e->handler != nullptr; ++e)
        ++entries;
    EXPECT_EQ(checked, entries);
}

}  // namespace
