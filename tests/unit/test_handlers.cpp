// Handlers against a real settings store: the store writes and their order,
// the command lines run, what waits for the call after the reply.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "handler_table.h"
#include "recorded_commands.h"
#include "req_func_account.h"
#include "req_func_network.h"
#include "req_func_reboot.h"
#include "wire.h"

namespace {

using Writes = std::vector<std::string>;

// A handler call as the event loop makes it, the body running to the end of a
// cleared buffer: the reply's result word, followed by zeros only.
uint32_t call(RequestHandler handler,
              uint16_t op,
              std::span<const uint8_t> body = {},
              size_t bodyOff = wire::kBodyOffAuth) {
    std::array<uint8_t, wire::kMaxDatagram> receive{}, reply{};
    std::copy(body.begin(), body.end(), receive.begin() + static_cast<long>(bodyOff));
    wire::message_t h{wire::kTypeRequest, 0, op, {}, {}, 0, 0, static_cast<uint16_t>(body.size())};
    EXPECT_EQ(handler(&h, std::span<const uint8_t>(receive).subspan(bodyOff), reply),
              wire::kHeaderLen + 16);
    const auto rb = std::span<const uint8_t>(reply).subspan(wire::kHeaderLen);
    for (size_t i = 4; i < rb.size(); i++)
        EXPECT_EQ(rb[i], 0) << "body byte " << i;
    return wire::load_le32(rb, 0);
}

// The call the event loop makes after the reply has left.
unsigned secondCall(RequestHandler handler) {
    return handler(nullptr, {}, {});
}

std::string base64(const std::string &text) {
    std::vector<unsigned char> out(4 * ((text.size() + 2) / 3) + 1);
    int n = EVP_EncodeBlock(out.data(), reinterpret_cast<const unsigned char *>(text.data()),
                            static_cast<int>(text.size()));
    return std::string(reinterpret_cast<char *>(out.data()), static_cast<size_t>(n));
}

const std::string &keptAddressFile() {
    static const std::string kept =
        std::filesystem::path(store().path()).parent_path() / "reserved_IP";
    return kept;
}

class Handlers : public CommandTest {
protected:
    void SetUp() override {
        CommandTest::SetUp();
        // A reset without IP on a static device saves the address: into the
        // test's own folder, never at the host's fixed path.
        setReservedIpSaveFile(keptAddressFile().c_str());
    }
};

TEST_F(Handlers, SetBasicInfoWritesInOrder) {
    namespace bi = wire::basic_info;
    using Fields = std::vector<std::pair<size_t, std::vector<uint8_t>>>;
    const std::vector<uint8_t> v6Addr = {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5};
    const std::vector<uint8_t> v6Gw = {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const std::string fullName(64, 'n');  // fills its field: taken to the field's width
    const std::vector<uint8_t> name64(fullName.begin(), fullName.end());
    const struct {
        const char *name;
        Fields fields;
        Writes expected;
    } cases[] = {
        // Any non-zero DHCP byte is on, and DHCP writes no static group.
        {"Dhcp",
         {{bi::kSystemName, name64},
          {bi::kDhcp, {0xFF}},
          {bi::kIp, {10, 0, 0, 2}},
          {bi::kIpv6Auto, {7}}},
         {"system.system-name=" + fullName, "management.dhcp-status=up", "host.dns-via-dhcp=up",
          "management.ipv6-autoconfig-status=up"}},
        {"StaticEverything",
         {{bi::kSystemName, {'h', 'a', 'l', 'l'}},
          {bi::kIp, {192, 168, 0, 50}},
          {bi::kMask, {255, 255, 255, 0}},
          {bi::kGateway, {192, 168, 0, 1}},
          {bi::kStaticDns, {1}},
          {bi::kDns1, {8, 8, 4, 4}},
          {bi::kDns2, {8, 8, 8, 8}},
          {bi::kIpv6, v6Addr},
          {bi::kIpv6Prefix, {64}},
          {bi::kIpv6Gateway, v6Gw}},
         {"system.system-name=hall", "management.dhcp-status=down",
          "management.static-ip=192.168.0.50", "static-ip-route.mask=255.255.255.0",
          "static-ip-route.gateway=192.168.0.1", "host.static-dns-1=8.8.4.4",
          "host.static-dns-2=8.8.8.8", "host.dns-via-dhcp=down",
          "management.ipv6-autoconfig-status=down", "management.static-ipv6=fd00::5",
          "management.static-ipv6-prefix-length=64", "static-ipv6-route.gateway="}},
    };
    for (const auto &p : cases) {
        SCOPED_TRACE(p.name);
        std::vector<uint8_t> body(bi::kBodyLen, 0);
        for (const auto &[off, value] : p.fields)
            std::copy(value.begin(), value.end(), body.begin() + static_cast<long>(off));
        EXPECT_EQ(call(funcSetBasicInfo, wire::OP_SET_BASIC_INFO, body), 0u);
        EXPECT_EQ(store().takeWrites(), p.expected);
        EXPECT_EQ(secondCall(funcSetBasicInfo), 0u);
        EXPECT_EQ(store().takeWrites(), Writes{});
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
        {"!!!!", "fine", 1001, nullptr},  // an undecodable user is not the admin
    };
    for (char bad : std::string("@:-/\\%\"'"))
        cases.push_back({base64("admin"), std::string("a") + bad + "b", 1006, nullptr});
    for (const Case &p : cases) {
        SCOPED_TRACE(p.password);
        const std::string password64 = base64(p.password);
        std::vector<uint8_t> body(wire::change_admin::kBodyLen, 0);
        std::copy(p.user64.begin(), p.user64.end(), body.begin());
        std::copy(password64.begin(), password64.end(),
                  body.begin() + wire::change_admin::kPassword);
        g_commands.clear();
        EXPECT_EQ(call(funcChangeAdmin, wire::OP_CHANGE_ADMIN, body), p.result);
        EXPECT_EQ(g_commands,
                  p.command ? std::vector<std::string>{p.command} : std::vector<std::string>{});
        g_commands.clear();
        EXPECT_EQ(secondCall(funcChangeAdmin), 0u);
        EXPECT_TRUE(g_commands.empty());
    }
    EXPECT_EQ(store().takeWrites(), Writes{});
}

TEST_F(Handlers, DeferredActionsOnlyAfterTheReply) {
    const std::string reset = "system.factory-reset=yes";
    const Writes dhcp{"management.dhcp-status=up", "management.static-ip=10.0.0.2"};
    const struct {
        const char *name;
        RequestHandler handler;
        uint16_t op;
        Writes seed, second;  // second: written by the call after the reply
    } cases[] = {
        {"FactoryReset", funcFactoryReset, wire::OP_FACTORY_RESET, {}, {reset}},
        {"KeepIpOnDhcp", funcFactoryResetWithoutIP, wire::OP_FACTORY_RESET_KEEP_IP, dhcp, {reset}},
        {"Reboot", funcReboot, wire::OP_REBOOT, {}, {"system.reboot=yes"}},
    };
    for (const auto &p : cases) {
        SCOPED_TRACE(p.name);
        store().clear();
        store().seed(p.seed);
        EXPECT_EQ(call(p.handler, p.op, {},
                       p.handler == funcReboot ? wire::kBodyOffPlain : wire::kBodyOffAuth),
                  0u);
        EXPECT_EQ(store().takeWrites(), Writes{});
        EXPECT_EQ(secondCall(p.handler), 0u);
        EXPECT_EQ(store().takeWrites(), p.second);
    }
    EXPECT_TRUE(g_commands.empty());
}

// The kept address is written as a file of its own, never through a
// symbolic link planted where it goes, and is readable by all.
TEST_F(Handlers, ResetKeepingTheAddressWritesNoLinkTarget) {
    store().seed({"management.dhcp-status=down", "management.static-ip=192.0.2.40",
                  "management.static-mask=255.255.255.0", "static-ip-route.gateway=192.0.2.1"});
    const std::string victim = keptAddressFile() + ".victim";
    std::filesystem::remove(keptAddressFile());
    std::ofstream(victim) << "untouched";
    std::filesystem::create_symlink(victim, keptAddressFile());
    EXPECT_EQ(call(funcFactoryResetWithoutIP, wire::OP_FACTORY_RESET_KEEP_IP), 0u);
    EXPECT_EQ((std::ostringstream() << std::ifstream(victim).rdbuf()).str(), "untouched");

    std::filesystem::remove(keptAddressFile());
    EXPECT_EQ(call(funcFactoryResetWithoutIP, wire::OP_FACTORY_RESET_KEEP_IP), 0u);
    EXPECT_EQ((std::ostringstream() << std::ifstream(keptAddressFile()).rdbuf()).str(),
              "192.0.2.40,255.255.255.0,192.0.2.1,");
    // No secret in it: readable by all, whatever the umask.
    EXPECT_EQ(std::filesystem::status(keptAddressFile()).permissions(),
              std::filesystem::perms(0644));
    std::filesystem::remove(keptAddressFile());
    std::filesystem::remove(victim);
}

}  // namespace
