// Discovery, account, network, date/time and reboot handlers against a real
// settings store: reply bytes, the store writes and their order, the
// command lines they run, and what happens in the call after the reply.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <array>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "auth.h"
#include "debug.h"
#include "handler_table.h"
#include "req_func_account.h"
#include "req_func_datetime.h"
#include "req_func_discovery.h"
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

constexpr std::array<uint8_t, 6> kReqMac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x09};
constexpr std::array<uint8_t, 4> kReqIp = {192, 0, 2, 99};
constexpr uint16_t kTag = 0xBEEF;

wire::message_t requestHeader(uint16_t op, uint16_t bodyLen = 0) {
    wire::message_t h{};
    h.uMsgType = wire::kTypeRequest;
    h.uMsgTag = kTag;
    h.uOP_Code = op;
    std::memcpy(h.ucMac, kReqMac.data(), kReqMac.size());
    std::memcpy(h.ucIp, kReqIp.data(), kReqIp.size());
    h.uStatus = wire::kAddrUnicast;
    h.uRetFlag = 0x5555;
    h.uBodyLen = bodyLen;
    return h;
}

// A handler call as the event loop makes it: the body area runs to the end
// of a cleared 4096-byte receive buffer, the reply buffer is cleared.
struct Call {
    std::array<uint8_t, wire::kMaxDatagram> receive{};
    std::array<uint8_t, wire::kMaxDatagram> reply{};
    unsigned length = 0;

    Call(RequestHandler handler, uint16_t op, std::span<const uint8_t> body = {},
         size_t bodyOff = wire::kBodyOffAuth) {
        std::copy(body.begin(), body.end(), receive.begin() + static_cast<long>(bodyOff));
        wire::message_t h = requestHeader(op, static_cast<uint16_t>(body.size()));
        length = handler(&h, std::span<const uint8_t>(receive).subspan(bodyOff), reply);
    }
    wire::message_t header() const { return wire::decode_header(reply); }
    std::span<const uint8_t> body() const { return std::span<const uint8_t>(reply).subspan(wire::kHeaderLen); }
    uint32_t result() const { return wire::load_le32(body(), 0); }
};

// The header every handler reply carries; `ownMac`/`ownIp` for the replies
// that put the device's address there.
void expectReplyHeader(const Call &c, uint16_t op, uint16_t bodyLen,
                       std::span<const uint8_t> mac = kReqMac, std::span<const uint8_t> ip = kReqIp) {
    EXPECT_EQ(c.length, wire::kHeaderLen + bodyLen);
    wire::message_t h = c.header();
    EXPECT_EQ(h.uMsgType, wire::kTypeReply);
    EXPECT_EQ(h.uMsgTag, kTag);
    EXPECT_EQ(h.uOP_Code, op);
    EXPECT_EQ(std::vector<uint8_t>(h.ucMac, h.ucMac + 6), std::vector<uint8_t>(mac.begin(), mac.end()));
    EXPECT_EQ(std::vector<uint8_t>(h.ucIp, h.ucIp + 4), std::vector<uint8_t>(ip.begin(), ip.end()));
    EXPECT_EQ(h.uStatus, wire::kStatusOk);
    EXPECT_EQ(h.uRetFlag, wire::kRetFlag);
    EXPECT_EQ(h.uBodyLen, bodyLen);
    // Nothing beyond the reply is written.
    for (size_t i = c.length; i < c.reply.size(); i++)
        ASSERT_EQ(c.reply[i], 0) << "byte " << i;
}

bool zeroRange(std::span<const uint8_t> b, size_t off, size_t len) {
    for (size_t i = off; i < off + len; i++)
        if (b[i] != 0)
            return false;
    return true;
}

std::vector<uint8_t> bytes(std::span<const uint8_t> b, size_t off, size_t len) {
    return {b.begin() + static_cast<long>(off), b.begin() + static_cast<long>(off + len)};
}

std::string base64(const std::string &text) {
    std::vector<unsigned char> out(4 * ((text.size() + 2) / 3) + 1);
    int n = EVP_EncodeBlock(out.data(), reinterpret_cast<const unsigned char *>(text.data()),
                            static_cast<int>(text.size()));
    return std::string(reinterpret_cast<char *>(out.data()), static_cast<size_t>(n));
}

std::vector<std::string> g_commands;
int recordCommand(const char *command) {
    g_commands.emplace_back(command);
    return 0;
}

class Handlers : public ::testing::Test {
protected:
    void SetUp() override {
        store().clear();
        g_commands.clear();
        sysSetShellExec(&recordCommand);
        // A reset without IP on a static device saves the address; never
        // at the host's fixed path.
        static const std::string keptAddress =
            std::filesystem::path(store().path()).parent_path() / "reserved_IP";
        setReservedIpSaveFile(keptAddress.c_str());
        mark();
    }
    void TearDown() override { sysSetShellExec(nullptr); }
    void mark() { mark_ = store().journal().size(); }
    std::vector<Write> writes() const {
        std::vector<Write> out;
        auto journal = store().journal();
        for (size_t i = mark_; i < journal.size(); i++)
            out.push_back({journal[i].section, journal[i].key, journal[i].value});
        return out;
    }
    void seed(std::initializer_list<Write> settings) {
        for (const Write &w : settings)
            store().set(w.section.c_str(), w.key.c_str(), w.value.c_str());
        mark();
    }
    // The call the event loop makes after the reply has left.
    static unsigned secondCall(RequestHandler handler) { return handler(nullptr, {}, {}); }

private:
    size_t mark_ = 0;
};

// ---- Discovery ------------------------------------------------------------

const std::initializer_list<Write> kDevice = {
    {"management", "mac", "02:00:00:00:00:01"}, {"management", "ip", "192.0.2.11"},
    {"management", "mask", "255.255.255.0"},    {"ip-route", "gateway", "192.0.2.1"},
    {"system", "model", "VAP-1"},               {"system", "version", "1.2.3"},
    {"system", "system-name", "ap-one"},        {"management", "interface", "brtrunk"},
};
constexpr std::array<uint8_t, 6> kOwnMac = {0x02, 0, 0, 0, 0, 0x01};
constexpr std::array<uint8_t, 4> kOwnIp = {192, 0, 2, 11};

TEST_F(Handlers, DiscoverReplyCarriesOwnAddressAndFixedFields) {
    namespace d = wire::discover;
    seed(kDevice);
    Call c(funcDiscover, wire::OP_DISCOVER, {}, wire::kBodyOffPlain);
    expectReplyHeader(c, wire::OP_DISCOVER, d::kBodyLen, kOwnMac, kOwnIp);
    auto b = c.body();
    EXPECT_EQ(wire::load_text(b, d::kProductName, d::kProductNameLen), "Vemira AP");
    EXPECT_EQ(wire::load_text(b, d::kDeviceType, d::kDeviceTypeLen), "WLAN-EAP");
    EXPECT_EQ(wire::load_text(b, d::kModel, d::kModelLen), "VAP-1");
    EXPECT_EQ(wire::load_text(b, d::kFwVersion, d::kFwVersionLen), "1.2.3");
    EXPECT_EQ(bytes(b, d::kProtoVersion, 2), (std::vector<uint8_t>{2, 0}));
    EXPECT_EQ(bytes(b, d::kMac, 6), std::vector<uint8_t>(kOwnMac.begin(), kOwnMac.end()));
    EXPECT_EQ(wire::load_text(b, d::kSystemName, d::kSystemNameLen), "ap-one");
    EXPECT_EQ(bytes(b, d::kIp, 4), std::vector<uint8_t>(kOwnIp.begin(), kOwnIp.end()));
    EXPECT_EQ(bytes(b, d::kWebPort, 3), (std::vector<uint8_t>{80, 0, 0}));
    EXPECT_EQ(bytes(b, d::kMask, 4), (std::vector<uint8_t>{255, 255, 255, 0}));
    EXPECT_EQ(bytes(b, d::kGateway, 4), (std::vector<uint8_t>{192, 0, 2, 1}));
    for (size_t i = 0; i < 14; i++)
        EXPECT_TRUE(std::isdigit(b[d::kDatetime + i])) << i;
    EXPECT_TRUE(zeroRange(b, d::kDatetime + 14, 5));  // date padding, zone, reserved, DST
    EXPECT_EQ(wire::load_text(b, d::kOpMode, d::kOpModeLen), "AP");
    EXPECT_EQ(wire::load_text(b, d::kHwVersion, d::kHwVersionLen), "A1");
    EXPECT_EQ(wire::load_text(b, d::kPortName, d::kPortNameLen), "LAN1");
    EXPECT_TRUE(zeroRange(b, d::kEmpty4, 4));
    EXPECT_TRUE(zeroRange(b, d::kEmpty32, 32));
    EXPECT_TRUE(zeroRange(b, 449, 32));
    EXPECT_EQ(b[482], 0);
    EXPECT_EQ(secondCall(funcDiscover), 0u);
    EXPECT_TRUE(writes().empty());
}

TEST_F(Handlers, NeighborReplyCarriesOwnAddress) {
    namespace n = wire::neighbor;
    seed(kDevice);
    Call c(funcQueryNeighbor, wire::OP_QUERY_NEIGHBOR, {}, wire::kBodyOffPlain);
    expectReplyHeader(c, wire::OP_QUERY_NEIGHBOR, n::kBodyLen, kOwnMac, kOwnIp);
    auto b = c.body();
    EXPECT_EQ(b[n::kOne], 1);
    EXPECT_EQ(wire::load_text(b, n::kDeviceType, n::kDeviceTypeLen), "WLAN-EAP");
    EXPECT_EQ(wire::load_text(b, n::kOpMode, n::kOpModeLen), "AP");
    EXPECT_EQ(wire::load_text(b, n::kFwVersion, n::kFwVersionLen), "1.2.3");
    EXPECT_EQ(bytes(b, n::kMac, 6), std::vector<uint8_t>(kOwnMac.begin(), kOwnMac.end()));
    EXPECT_EQ(wire::load_text(b, n::kSystemName, n::kSystemNameLen), "ap-one");
    EXPECT_EQ(bytes(b, n::kIp, 8), (std::vector<uint8_t>{192, 0, 2, 11, 255, 255, 255, 0}));
    EXPECT_TRUE(zeroRange(b, n::kIpv6, 16));
    EXPECT_EQ(wire::load_text(b, n::kPortName, n::kPortNameLen), "LAN1");
    EXPECT_EQ(secondCall(funcQueryNeighbor), 0u);
}

TEST_F(Handlers, SupportedListSkipsBasicOperationsAndEndsWithZero) {
    Call c(funcQuerySupportedFunc, wire::OP_QUERY_SUPPORTED);
    expectReplyHeader(c, wire::OP_QUERY_SUPPORTED, 36);
    const std::vector<uint8_t> expected = {0xA6, 0, 0xA7, 0, 0xAA, 0, 0xAB, 0, 0xAC, 0, 0xAD, 0,
                                           0xC0, 0, 0xC9, 0, 0xD0, 0, 0xD1, 0, 0xD2, 0, 0xD4, 0,
                                           0xD8, 0, 0x00, 1, 0x01, 1, 0x02, 1, 0x03, 1, 0,    0};
    EXPECT_EQ(bytes(c.body(), 0, 36), expected);
    EXPECT_EQ(secondCall(funcQuerySupportedFunc), 0u);
}

// ---- Basic info -----------------------------------------------------------

struct BasicInfoCase {
    const char *name;
    std::vector<std::pair<size_t, std::vector<uint8_t>>> fields;  // body offset -> bytes
    std::vector<Write> expected;
};

class SetBasicInfo : public Handlers, public ::testing::WithParamInterface<BasicInfoCase> {};

TEST_P(SetBasicInfo, WritesInOrderAndAlwaysReportsZero) {
    const BasicInfoCase &p = GetParam();
    std::vector<uint8_t> body(wire::basic_info::kBodyLen, 0);
    for (const auto &[off, value] : p.fields)
        std::copy(value.begin(), value.end(), body.begin() + static_cast<long>(off));
    Call c(funcSetBasicInfo, wire::OP_SET_BASIC_INFO, body);
    expectReplyHeader(c, wire::OP_SET_BASIC_INFO, 16);
    EXPECT_TRUE(zeroRange(c.body(), 0, 16));
    EXPECT_EQ(writes(), p.expected);
    mark();
    EXPECT_EQ(secondCall(funcSetBasicInfo), 0u);
    EXPECT_TRUE(writes().empty());
}

std::vector<uint8_t> txt(const std::string &s) { return {s.begin(), s.end()}; }

namespace bi = wire::basic_info;
const std::vector<uint8_t> kV6Addr = {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5};
const std::vector<uint8_t> kV6Gw = {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};

INSTANTIATE_TEST_SUITE_P(
    BasicInfo, SetBasicInfo,
    ::testing::Values(
        BasicInfoCase{"DhcpKeepsStaticAddress",
                      {{bi::kSystemName, txt("lobby")}, {bi::kDhcp, {1}}, {bi::kIp, {10, 0, 0, 2}},
                       {bi::kIpv6Auto, {1}}},
                      {{"system", "system-name", "lobby"},
                       {"management", "dhcp-status", "up"},
                       {"host", "dns-via-dhcp", "up"},
                       {"management", "ipv6-autoconfig-status", "up"}}},
        BasicInfoCase{"AnyNonZeroDhcpIsOn", {{bi::kDhcp, {0xFF}}, {bi::kIpv6Auto, {7}}},
                      {{"system", "system-name", ""},
                       {"management", "dhcp-status", "up"},
                       {"host", "dns-via-dhcp", "up"},
                       {"management", "ipv6-autoconfig-status", "up"}}},
        BasicInfoCase{"StaticEverything",
                      {{bi::kSystemName, txt("hall")},
                       {bi::kIp, {192, 168, 0, 50}},
                       {bi::kMask, {255, 255, 255, 0}},
                       {bi::kGateway, {192, 168, 0, 1}},
                       {bi::kStaticDns, {1}},
                       {bi::kDns1, {8, 8, 4, 4}},
                       {bi::kDns2, {8, 8, 8, 8}},
                       {bi::kIpv6, kV6Addr},
                       {bi::kIpv6Prefix, {64}},
                       {bi::kIpv6Gateway, kV6Gw}},
                      {{"system", "system-name", "hall"},
                       {"management", "dhcp-status", "down"},
                       {"management", "static-ip", "192.168.0.50"},
                       {"static-ip-route", "mask", "255.255.255.0"},
                       {"static-ip-route", "gateway", "192.168.0.1"},
                       {"host", "static-dns-1", "8.8.4.4"},
                       {"host", "static-dns-2", "8.8.8.8"},
                       {"host", "dns-via-dhcp", "down"},
                       {"management", "ipv6-autoconfig-status", "down"},
                       {"management", "static-ipv6", "fd00::5"},
                       {"management", "static-ipv6-prefix-length", "64"},
                       {"static-ipv6-route", "gateway", ""}}},
        // A body of zeros: the unspecified IPv6 address ends the IPv6 group.
        BasicInfoCase{"AllZeroBody", {},
                      {{"system", "system-name", ""},
                       {"management", "dhcp-status", "down"},
                       {"management", "static-ip", "0.0.0.0"},
                       {"static-ip-route", "mask", "0.0.0.0"},
                       {"static-ip-route", "gateway", "0.0.0.0"},
                       {"host", "dns-via-dhcp", "up"},
                       {"management", "ipv6-autoconfig-status", "down"}}},
        // A name that fills its field is taken to the field's width only.
        BasicInfoCase{"FullWidthName",
                      {{bi::kSystemName, txt(std::string(64, 'n'))}, {bi::kIp, {1, 2, 3, 4}}, {bi::kDhcp, {1}},
                       {bi::kIpv6Auto, {1}}},
                      {{"system", "system-name", std::string(64, 'n')},
                       {"management", "dhcp-status", "up"},
                       {"host", "dns-via-dhcp", "up"},
                       {"management", "ipv6-autoconfig-status", "up"}}}),
    [](const auto &p) { return std::string(p.param.name); });

// ---- User verify and password change ---------------------------------------

TEST_F(Handlers, UserVerifyTellsAdminFromOthers) {
    const std::pair<const char *, uint32_t> cases[] = {{"admin", 1}, {"Admin", 2}, {"", 2}, {"admin ", 2}, {"root", 2}};
    for (const auto &[user, code] : cases) {
        std::memset(g_currentUser, 0, sizeof g_currentUser);
        std::strcpy(g_currentUser, user);
        Call c(funcUserVerify, wire::OP_USER_VERIFY);
        expectReplyHeader(c, wire::OP_USER_VERIFY, 4);
        EXPECT_EQ(c.result(), code) << user;
    }
    EXPECT_EQ(secondCall(funcUserVerify), 0u);
}

struct ChangeAdminCase {
    const char *name;
    std::string user, password;
    uint32_t result;
    const char *command;  // null: nothing run
};

class ChangeAdmin : public Handlers, public ::testing::WithParamInterface<ChangeAdminCase> {};

std::vector<uint8_t> changeAdminBody(const std::string &user64, const std::string &password64) {
    std::vector<uint8_t> body(wire::change_admin::kBodyLen, 0);
    std::copy(user64.begin(), user64.end(), body.begin());
    std::copy(password64.begin(), password64.end(), body.begin() + wire::change_admin::kPassword);
    return body;
}

TEST_P(ChangeAdmin, ResultAndCommandLine) {
    const ChangeAdminCase &p = GetParam();
    Call c(funcChangeAdmin, wire::OP_CHANGE_ADMIN, changeAdminBody(base64(p.user), base64(p.password)));
    expectReplyHeader(c, wire::OP_CHANGE_ADMIN, 16);
    EXPECT_EQ(c.result(), p.result);
    EXPECT_TRUE(zeroRange(c.body(), 4, 12));
    if (p.command == nullptr)
        EXPECT_TRUE(g_commands.empty());
    else
        EXPECT_EQ(g_commands, std::vector<std::string>{p.command});
    g_commands.clear();
    EXPECT_EQ(secondCall(funcChangeAdmin), 0u);
    EXPECT_TRUE(g_commands.empty());
    EXPECT_TRUE(writes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ChangeAdmin,
    ::testing::Values(
        ChangeAdminCase{"Plain", "admin", "n3wSecret", 0, "submit SET_PASSWD 'admin' 'n3wSecret'"},
        ChangeAdminCase{"DollarAndBackquoteEscaped", "admin", "a$b`c", 0, "submit SET_PASSWD 'admin' 'a\\$b\\`c'"},
        ChangeAdminCase{"EmptyPassword", "admin", "", 0, "submit SET_PASSWD 'admin' ''"},
        ChangeAdminCase{"LongestPassword", "admin", std::string(48, 'p'), 0,
                        "submit SET_PASSWD 'admin' 'pppppppppppppppppppppppppppppppppppppppppppppppp'"},
        ChangeAdminCase{"OtherUser", "Admin", "fine", 1001, nullptr},
        ChangeAdminCase{"EmptyUser", "", "fine", 1001, nullptr},
        ChangeAdminCase{"OtherUserBeatsBadChar", "root", "a:b", 1001, nullptr},
        ChangeAdminCase{"At", "admin", "a@b", 1006, nullptr},
        ChangeAdminCase{"Colon", "admin", "a:b", 1006, nullptr},
        ChangeAdminCase{"Hyphen", "admin", "a-b", 1006, nullptr},
        ChangeAdminCase{"Slash", "admin", "a/b", 1006, nullptr},
        ChangeAdminCase{"Backslash", "admin", "a\\b", 1006, nullptr},
        ChangeAdminCase{"Percent", "admin", "100%", 1006, nullptr},
        ChangeAdminCase{"DoubleQuote", "admin", "\"q", 1006, nullptr},
        ChangeAdminCase{"SingleQuote", "admin", "it's", 1006, nullptr},
        ChangeAdminCase{"QuoteBreakout", "admin", "x'; reboot; '", 1006, nullptr}),
    [](const auto &p) { return std::string(p.param.name); });

TEST_F(Handlers, ChangeAdminWithUndecodableUserIsNotAdmin) {
    Call c(funcChangeAdmin, wire::OP_CHANGE_ADMIN, changeAdminBody("!!!!", base64("fine")));
    EXPECT_EQ(c.result(), 1001u);
    EXPECT_TRUE(g_commands.empty());
}

// ---- Network --------------------------------------------------------------

TEST_F(Handlers, GetNetAdvWithoutBackingDatabaseIsAllZero) {
    Call c(funcGetNetAdvSettings, wire::OP_GET_NET_ADV);
    expectReplyHeader(c, wire::OP_GET_NET_ADV, 525);
    EXPECT_TRUE(zeroRange(c.body(), 0, 525));
    EXPECT_EQ(secondCall(funcGetNetAdvSettings), 0u);
}

TEST_F(Handlers, SetNetAdvAcknowledgesWithZero) {
    std::vector<uint8_t> body(wire::net_adv::kBodyLen, 0xAB);
    Call c(funcSetNetAdvSettings, wire::OP_SET_NET_ADV, body);
    expectReplyHeader(c, wire::OP_SET_NET_ADV, 16);
    EXPECT_TRUE(zeroRange(c.body(), 0, 16));
    EXPECT_TRUE(writes().empty());  // dynamic DNS lives in the XML database, not the store
    EXPECT_EQ(secondCall(funcSetNetAdvSettings), 0u);
}

const Write kFactoryReset = {"system", "factory-reset", "yes"};

TEST_F(Handlers, FactoryResetOnlyAfterTheReply) {
    Call c(funcFactoryReset, wire::OP_FACTORY_RESET);
    expectReplyHeader(c, wire::OP_FACTORY_RESET, 16);
    EXPECT_TRUE(zeroRange(c.body(), 0, 16));
    EXPECT_TRUE(writes().empty());
    EXPECT_EQ(secondCall(funcFactoryReset), 0u);
    EXPECT_EQ(writes(), std::vector<Write>{kFactoryReset});
}

// Only the DHCP case here: a static device writes the reserved-address file
// at its fixed path, which only the device sandbox may do.
TEST_F(Handlers, FactoryResetWithoutIpOnDhcpDeviceOnlyRequestsTheReset) {
    seed({{"management", "dhcp-status", "up"}, {"management", "static-ip", "10.0.0.2"}});
    Call c(funcFactoryResetWithoutIP, wire::OP_FACTORY_RESET_KEEP_IP);
    expectReplyHeader(c, wire::OP_FACTORY_RESET_KEEP_IP, 16);
    EXPECT_TRUE(writes().empty());
    EXPECT_EQ(secondCall(funcFactoryResetWithoutIP), 0u);
    EXPECT_EQ(writes(), std::vector<Write>{kFactoryReset});
}

TEST_F(Handlers, CommitSavesBeforeReplyingAndNotAfter) {
    Call c(funcCommitSettings, wire::OP_COMMIT);
    expectReplyHeader(c, wire::OP_COMMIT, 16);
    EXPECT_TRUE(zeroRange(c.body(), 0, 16));
    EXPECT_EQ(writes(), (std::vector<Write>{{"config", "startup", "running"}}));
    mark();
    EXPECT_EQ(secondCall(funcCommitSettings), 0u);
    EXPECT_TRUE(writes().empty());
}

struct NetStatusCase {
    const char *name;
    const char *interface;
    const char *ip;
    uint16_t bodyLen;
    std::vector<uint8_t> body;
};

class NetStatus : public Handlers, public ::testing::WithParamInterface<NetStatusCase> {};

TEST_P(NetStatus, ReportsTheBridgeOnly) {
    const NetStatusCase &p = GetParam();
    if (p.interface != nullptr)
        store().set("management", "interface", p.interface);
    store().set("management", "ip", p.ip);
    Call c(funcQueryNetStatus, wire::OP_QUERY_NET_STATUS);
    expectReplyHeader(c, wire::OP_QUERY_NET_STATUS, p.bodyLen);
    EXPECT_EQ(bytes(c.body(), 0, p.body.size()), p.body);
}

std::vector<uint8_t> statusBody(std::initializer_list<uint8_t> head) {
    std::vector<uint8_t> b(head);
    b.resize(20, 0);
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Query, NetStatus,
    ::testing::Values(
        NetStatusCase{"LinkLocal", "brtrunk", "169.254.10.20", 20, statusBody({1, 0, 0, 0, 0xA9, 0xFE, 0x0A, 0x14})},
        NetStatusCase{"Ordinary", "brtrunk", "192.168.0.50", 20, statusBody({0, 0, 0, 0, 0xC0, 0xA8, 0x00, 0x32})},
        NetStatusCase{"OtherInterface", "eth0", "192.168.0.50", 0, {}},
        NetStatusCase{"LongerName", "brtrunk0", "192.168.0.50", 0, {}},
        NetStatusCase{"NoInterface", nullptr, "192.168.0.50", 0, {}}),
    [](const auto &p) { return std::string(p.param.name); });

// ---- Date and time --------------------------------------------------------

TEST_F(Handlers, GetDateTimeWithNtpOn) {
    namespace dt = wire::datetime;
    seed({{"ntp", "status", "up"}, {"ntp", "server", "ntp.example.net"}});
    Call c(funcGetDateTime, wire::OP_GET_DATETIME);
    expectReplyHeader(c, wire::OP_GET_DATETIME, 100);
    auto b = c.body();
    for (size_t i = 0; i < 14; i++)
        EXPECT_TRUE(std::isdigit(b[i])) << i;
    EXPECT_TRUE(zeroRange(b, 14, 2));
    EXPECT_EQ(bytes(b, dt::kTimeZone, 4), (std::vector<uint8_t>{0, 0, 0, 1}));
    EXPECT_EQ(wire::load_text(b, dt::kNtpServer, dt::kNtpServerLen), "ntp.example.net");
    EXPECT_TRUE(zeroRange(b, 84, 16));
    EXPECT_EQ(secondCall(funcGetDateTime), 0u);
}

TEST_F(Handlers, GetDateTimeWithNtpOffHidesTheServer) {
    seed({{"ntp", "status", "down"}, {"ntp", "server", "ntp.example.net"}});
    Call c(funcGetDateTime, wire::OP_GET_DATETIME);
    ASSERT_EQ(c.length, 122u);
    EXPECT_TRUE(zeroRange(c.body(), 16, 84));
}

TEST_F(Handlers, GetDateTimeCarriesAFullWidthServerName) {
    const std::string name(64, 's');
    seed({{"ntp", "status", "up"}, {"ntp", "server", name.c_str()}});
    Call c(funcGetDateTime, wire::OP_GET_DATETIME);
    EXPECT_EQ(wire::load_text(c.body(), wire::datetime::kNtpServer, 64), name);
    EXPECT_TRUE(zeroRange(c.body(), 84, 16));
}

struct SetDateTimeCase {
    const char *name;
    std::vector<uint8_t> body;
    const char *output;
};

class SetDateTime : public Handlers, public ::testing::WithParamInterface<SetDateTimeCase> {};

TEST_P(SetDateTime, PrintsTheRequestAndKeepsNothing) {
    const SetDateTimeCase &p = GetParam();
    ::testing::internal::CaptureStdout();
    Call c(funcSetDateTime, wire::OP_SET_DATETIME, p.body);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), p.output);
    expectReplyHeader(c, wire::OP_SET_DATETIME, 16);
    EXPECT_TRUE(zeroRange(c.body(), 0, 16));
    EXPECT_TRUE(writes().empty());
    EXPECT_TRUE(g_commands.empty());
    EXPECT_EQ(secondCall(funcSetDateTime), 0u);
}

std::vector<uint8_t> dateBody(const std::string &date, uint8_t zone, uint8_t dst, uint8_t ntp, const std::string &server) {
    std::vector<uint8_t> b(wire::datetime::kSetBodyLen, 0);
    std::copy(date.begin(), date.end(), b.begin());
    b[16] = zone;
    b[17] = 0x77;  // reserved, never read
    b[18] = dst;
    b[19] = ntp;
    std::copy(server.begin(), server.end(), b.begin() + 20);
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Print, SetDateTime,
    ::testing::Values(
        SetDateTimeCase{"WithZone", dateBody("20250102030405", 0x1e, 1, 1, "pool.example"),
                        "DateTime = 20250102030405, 32, 30, 32, 35, 30, 31, 30, 32, 30, 33, 30, 34, 30, 35, 0, 0, \n"
                        "Time-zone = 1e(Hex), 30(DEC)\n"
                        "DaylightSaving = 1\n"
                        "NTP = 1\n"
                        "NTP_Server = pool.example\n"},
        SetDateTimeCase{"ZoneZeroPrintsNoZoneLine", dateBody("", 0, 0, 0, ""),
                        "DateTime = , 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, \n"
                        "DaylightSaving = 0\n"
                        "NTP = 0\n"
                        "NTP_Server = \n"},
        SetDateTimeCase{"FullWidthFieldsStopAtTheirWidth",
                        dateBody("ABCDEFGHIJKLMNOP", 0xff, 0xa, 0x10, std::string(64, 'x')),
                        "DateTime = ABCDEFGHIJKLMNOP, 41, 42, 43, 44, 45, 46, 47, 48, 49, 4a, 4b, 4c, 4d, 4e, 4f, 50, \n"
                        "Time-zone = ff(Hex), 255(DEC)\n"
                        "DaylightSaving = a\n"
                        "NTP = 10\n"
                        "NTP_Server = xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n"}),
    [](const auto &p) { return std::string(p.param.name); });

// ---- Reboot ---------------------------------------------------------------

TEST_F(Handlers, RebootRepliesThenSetsTheTrigger) {
    const std::vector<uint8_t> junk(40, 0xEE);
    Call c(funcReboot, wire::OP_REBOOT, junk, wire::kBodyOffPlain);
    expectReplyHeader(c, wire::OP_REBOOT, 16);
    EXPECT_TRUE(zeroRange(c.body(), 0, 16));
    EXPECT_TRUE(writes().empty());
    EXPECT_EQ(secondCall(funcReboot), 0u);
    EXPECT_EQ(writes(), (std::vector<Write>{{"system", "reboot", "yes"}}));
}

// ---- Trace ----------------------------------------------------------------

// Each handler names itself in the debug trace at the start of the request
// call and again in the call after the reply, whatever else it prints.
TEST_F(Handlers, EveryHandlerTracesItsOwnNameOnBothCalls) {
    const std::pair<uint16_t, const char *> names[] = {
        {0xA1, "funcDiscover"},           {0xA2, "funcSetBasicInfo"},
        {0xA3, "funcUserVerify"},         {0xA4, "funcChangeAdmin"},
        {0xA5, "funcQuerySupportedFunc"}, {0xA6, "funcGetNetAdvSettings"},
        {0xA7, "funcSetNetAdvSettings"},  {0xAA, "funcFactoryResetWithoutIP"},
        {0xAB, "funcFactoryReset"},       {0xAC, "funcGetDateTime"},
        {0xAD, "funcSetDateTime"},        {0xC0, "funcCommitSettings"},
        {0xC9, "funcQueryNetStatus"},     {0xD0, "funcQueryNeighbor"},
        {0xD1, "funcSetMultiSSID_Config"}, {0xD2, "funcVLAN_Config"},
        {0xD4, "funcSNMP_Config"},        {0xD8, "funcGetMultiSSID_Config"},
        {0x100, "funcFirmwareUpgrade"},   {0x101, "funcConfigBackup"},
        {0x102, "funcConfigUpgrade"},     {0x103, "funcReboot"}};
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

// ---- Capacity -------------------------------------------------------------

TEST_F(Handlers, TooSmallReplyBufferGivesNoReplyAndNoOverrun) {
    const std::pair<RequestHandler, size_t> cases[] = {
        {funcDiscover, 505}, {funcQueryNeighbor, 253}, {funcQuerySupportedFunc, 58}, {funcGetNetAdvSettings, 547},
        {funcGetDateTime, 122}, {funcReboot, 38}, {funcUserVerify, 26}};
    for (const auto &[handler, need] : cases) {
        std::vector<uint8_t> reply(need + 16, 0);
        wire::message_t h = requestHeader(0);
        std::array<uint8_t, 4096> rx{};
        EXPECT_EQ(handler(&h, rx, std::span(reply).first(need - 1)), 0u) << need;
        for (size_t i = need - 1; i < reply.size(); i++)
            ASSERT_EQ(reply[i], 0) << need << " byte " << i;
        EXPECT_EQ(handler(&h, rx, std::span(reply).first(need)), need);
    }
}

}  // namespace
