// One datagram through the event loop's request path, without sockets:
// addressing rules, the core's own replies, credentials and trace lines.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "auth.h"
#include "daemon_state.h"
#include "debug.h"
#include "loop.h"
#include "temp_store.h"

namespace {

constexpr const char *kHashTarnadmin = "$5$tarnsalt$VnCRs2c66nWZgE/8YV.bB0LQvcqb4NSKInzOWBvFF93";
constexpr std::array<uint8_t, 6> kOwnMac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr std::array<uint8_t, 4> kOwnIp = {192, 0, 2, 11};
constexpr std::array<uint8_t, 6> kAllMac = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr std::array<uint8_t, 6> kOtherMac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x02};
constexpr std::array<uint8_t, 4> kNoIp = {0, 0, 0, 0};
constexpr std::array<uint8_t, 4> kOtherIp = {10, 0, 0, 1};

TempStore &store() {
    static TempStore s;
    return s;
}

using Datagram = std::vector<uint8_t>;

void record(void *ctx, std::span<const uint8_t> datagram) {
    static_cast<std::vector<Datagram> *>(ctx)->emplace_back(datagram.begin(), datagram.end());
}

// A request written byte by byte, as a utility puts it on the wire.
Datagram request(uint16_t type, uint16_t status, uint16_t op, std::span<const uint8_t> mac,
                 std::span<const uint8_t> ip, uint16_t tag = 0x4242) {
    Datagram d = {static_cast<uint8_t>(type), static_cast<uint8_t>(type >> 8),
                  static_cast<uint8_t>(tag), static_cast<uint8_t>(tag >> 8),
                  static_cast<uint8_t>(op), static_cast<uint8_t>(op >> 8)};
    d.insert(d.end(), mac.begin(), mac.end());
    d.insert(d.end(), ip.begin(), ip.end());
    d.insert(d.end(), {static_cast<uint8_t>(status), static_cast<uint8_t>(status >> 8), 0, 0, 0,
                       0});
    return d;
}

// Appends the two 64-byte Base64 fields of the credential block.
Datagram withCredentials(Datagram d, const std::string &user64, const std::string &pass64) {
    for (const std::string *f : {&user64, &pass64}) {
        std::array<uint8_t, 64> field{};
        std::memcpy(field.data(), f->data(), std::min<size_t>(f->size(), 64));
        d.insert(d.end(), field.begin(), field.end());
    }
    return d;
}

// The 22-byte reply of the core: the request's first 16 bytes with type
// EE FE, then status, flag 2 and no body.
Datagram coreReply(const Datagram &req, uint8_t status) {
    Datagram r(req.begin(), req.begin() + 16);
    r[0] = 0xEE;
    r[1] = 0xFE;
    r.insert(r.end(), {status, 0x00, 0x02, 0x00, 0x00, 0x00});
    return r;
}

const std::string kAdmin64 = "YWRtaW4=";          // admin
const std::string kRight64 = "dGFybmFkbWlu";      // tarnadmin
const std::string kWrong64 = "dGFybmFkbWlueA==";  // tarnadminx

class Serve : public ::testing::Test {
protected:
    void SetUp() override {
        store().clear();
        store().set("system", "username", "admin");
        store().set("system", "encrypted-password", kHashTarnadmin);
        g_debugLevel = 0;
        g_captureFolder = nullptr;  // never capture on the build host
        g_curIfIndex = 0;
    }
    void TearDown() override {
        g_debugLevel = 0;
        g_captureFolder = "/Volume_1";
    }
    std::vector<Datagram> serve(const Datagram &d) {
        std::vector<Datagram> sent;
        serveDatagram(d, kOwnMac, kOwnIp, ReplySink{record, &sent}, counter_);
        return sent;
    }
    unsigned counter_ = 0;
};

struct DropCase {
    const char *name;
    Datagram datagram;
};

class Dropped : public Serve, public ::testing::WithParamInterface<DropCase> {};

TEST_P(Dropped, NoAnswer) {
    EXPECT_TRUE(serve(GetParam().datagram).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Addressing, Dropped,
    ::testing::Values(
        DropCase{"BroadcastWithTargetIp", request(0xFDFD, 0, 0xA1, kAllMac, kOtherIp)},
        DropCase{"BroadcastWithOwnMac", request(0xFDFD, 0, 0xA1, kOwnMac, kNoIp)},
        DropCase{"BroadcastOfProtectedOp",
                 withCredentials(request(0xFDFD, 0, 0xA2, kAllMac, kNoIp), kAdmin64, kRight64)},
        DropCase{"BroadcastOfUnknownOp", request(0xFDFD, 0, 0x99, kAllMac, kNoIp)},
        DropCase{"AddressedToOtherMac", request(0xFDFD, 0x7777, 0x99, kOtherMac, kOwnIp)},
        DropCase{"AddressedToOtherIp", request(0xFDFD, 0x7777, 0x99, kOwnMac, kOtherIp)},
        DropCase{"UnknownAddressingMode", request(0xFDFD, 0x7776, 0x99, kOwnMac, kOwnIp)},
        DropCase{"ReplyNeverAnswered", request(0xFEEE, 0x7777, 0x99, kOwnMac, kOwnIp)},
        DropCase{"AnnouncementIgnored", request(0xFFFF, 0x7777, 0x99, kOwnMac, kOwnIp)},
        DropCase{"OtherTypeIgnored", request(0xFDFC, 0x7777, 0x99, kOwnMac, kOwnIp)},
        DropCase{"ShortDatagram", Datagram{0xFD, 0xFD, 0x01, 0x00, 0x99}},
        DropCase{"Empty", Datagram{}}),
    [](const auto &tp) { return std::string(tp.param.name); });

TEST_F(Serve, UnknownOpGetsNotSupported) {
    const Datagram req = request(0xFDFD, 0x7777, 0x99, kOwnMac, kOwnIp, 0xBEEF);
    testing::internal::CaptureStdout();
    const auto sent = serve(req);
    EXPECT_EQ("pMsg->uOP_Code = 153 not support\n", testing::internal::GetCapturedStdout());
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(coreReply(req, 3), sent[0]);
    EXPECT_EQ(22u, sent[0].size());
}

// 0xA0 is the announcement's code, not an operation.
TEST_F(Serve, AnnouncementCodeIsNotAnOperation) {
    testing::internal::CaptureStdout();
    const auto sent = serve(request(0xFDFD, 0x7777, 0xA0, kOwnMac, kOwnIp));
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(3, sent[0][16]);
}

TEST_F(Serve, NotSupportedTrace) {
    g_debugLevel = 1;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    serve(request(0xFDFD, 0x7777, 0x99, kOwnMac, kOwnIp));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(
        "tarnd: Get a request. ID=0xfdfd\n"
        "tarnd: FUNC:_funcNotSupport...\n"
        "tarnd: sending func not support...\n",
        testing::internal::GetCapturedStderr());
}

TEST_F(Serve, ReplyTypeTrace) {
    g_debugLevel = 1;
    testing::internal::CaptureStderr();
    serve(request(0xFEEE, 0, 0xA1, kAllMac, kNoIp));
    EXPECT_EQ("tarnd: Get a message. ID=0xfeee\n", testing::internal::GetCapturedStderr());
}

TEST_F(Serve, WrongPasswordGetsAuthFail) {
    const Datagram req =
        withCredentials(request(0xFDFD, 0x7777, 0xA3, kOwnMac, kOwnIp), kAdmin64, kWrong64);
    g_debugLevel = 1;
    testing::internal::CaptureStderr();
    const auto sent = serve(req);
    // No line announces the sending of this reply.
    EXPECT_EQ(
        "tarnd: Get a request. ID=0xfdfd\n"
        "tarnd: process request 0x00a3 begin...\n"
        "tarnd: FUNC:_funcAuthFail...\n",
        testing::internal::GetCapturedStderr());
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(coreReply(req, 2), sent[0]);
}

TEST_F(Serve, BroadcastQueryIsCheckedToo) {
    const Datagram req =
        withCredentials(request(0xFDFD, 0, 0xA5, kAllMac, kNoIp), kAdmin64, kWrong64);
    const auto sent = serve(req);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(coreReply(req, 2), sent[0]);
}

TEST_F(Serve, MissingCredentialBlockFails) {
    const Datagram req = request(0xFDFD, 0x7777, 0xA6, kOwnMac, kOwnIp);
    const auto sent = serve(req);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(coreReply(req, 2), sent[0]);
}

TEST_F(Serve, RenamedAccountRefusesEveryProtectedOp) {
    store().set("system", "username", "root");
    for (uint16_t op : std::initializer_list<uint16_t>{0xA2, 0xA3, 0xA4, 0xA6, 0xA7, 0xAA, 0xAB, 0xAC, 0xAD, 0xC0, 0xC9, 0xD1,
                        0xD2, 0xD8}) {
        const Datagram req =
            withCredentials(request(0xFDFD, 0x7777, op, kOwnMac, kOwnIp), kAdmin64, kRight64);
        const auto sent = serve(req);
        ASSERT_EQ(1u, sent.size()) << op;
        EXPECT_EQ(coreReply(req, 2), sent[0]) << op;
    }
    EXPECT_EQ(std::nullopt, store().get("system", "factory-reset"));
    EXPECT_EQ(std::nullopt, store().get("system", "reboot"));
}

TEST_F(Serve, RightPasswordReachesTheHandler) {
    const Datagram req =
        withCredentials(request(0xFDFD, 0x7777, 0xA3, kOwnMac, kOwnIp), kAdmin64, kRight64);
    for (const Datagram &d : serve(req))
        EXPECT_NE(coreReply(req, 2), d);
    EXPECT_STREQ("admin", g_currentUser);
}

// The user name field is 64 characters with no terminator; the password
// field right behind it must not run into it.
TEST_F(Serve, FullUserFieldDecodesFromItsOwnBytes) {
    const std::string user64(64, 'Q');  // "QQQQ" decodes to 0x41 0x04 0x10
    const Datagram req =
        withCredentials(request(0xFDFD, 0x7777, 0xA3, kOwnMac, kOwnIp), user64, kWrong64);
    serve(req);
    std::string expected;
    for (int i = 0; i < 16; i++)
        expected += "\x41\x04\x10";
    EXPECT_EQ(expected, std::string(g_currentUser));
}

// Operations without the flag carry no credential block and skip the check.
TEST_F(Serve, UnprotectedOpSkipsTheCheck) {
    store().set("system", "username", "root");
    const Datagram req = request(0xFDFD, 0x7777, 0xD0, kOwnMac, kOwnIp);
    for (const Datagram &d : serve(req))
        EXPECT_NE(coreReply(req, 2), d);
}

}  // namespace
