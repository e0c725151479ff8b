// One datagram through the event loop's request path, without sockets:
// addressing rules, the core's own replies and the credential gate.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "auth.h"
#include "daemon_state.h"
#include "loop.h"
#include "temp_store.h"

namespace {

constexpr const char *kHashTarnadmin = "$5$tarnsalt$VnCRs2c66nWZgE/8YV.bB0LQvcqb4NSKInzOWBvFF93";
constexpr std::array<uint8_t, 6> kOwnMac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr std::array<uint8_t, 4> kOwnIp = {192, 0, 2, 11};
constexpr std::array<uint8_t, 6> kAllMac = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr std::array<uint8_t, 4> kNoIp = {0, 0, 0, 0};

using Datagram = std::vector<uint8_t>;

using Bytes = std::span<const uint8_t>;

// A request written byte by byte, as a utility puts it on the wire.
Datagram request(uint16_t status, uint16_t op, Bytes mac, Bytes ip) {
    Datagram d;
    const auto le16 = [&d](std::initializer_list<unsigned> values) {
        for (unsigned v : values)
            d.insert(d.end(), {uint8_t(v), uint8_t(v >> 8)});
    };
    le16({0xFDFD, 0x4242, op});  // type, tag, operation
    d.insert(d.end(), mac.begin(), mac.end());
    d.insert(d.end(), ip.begin(), ip.end());
    le16({status, 0, 0});  // status, flag, body length
    return d;
}

// Appends the two 64-byte Base64 fields of the credential block.
Datagram withCredentials(Datagram d, std::string user64, std::string pass64) {
    for (std::string *f : {&user64, &pass64}) {
        f->resize(64, '\0');
        d.insert(d.end(), f->begin(), f->end());
    }
    return d;
}

// The 22-byte reply of the core: the request's first 16 bytes with type
// EE FE, then status, flag 2 and no body.
Datagram coreReply(const Datagram &req, uint8_t status) {
    Datagram r(req.begin(), req.begin() + 16);
    r[0] = 0xEE, r[1] = 0xFE;
    r.insert(r.end(), {status, 0x00, 0x02, 0x00, 0x00, 0x00});
    return r;
}

class Serve : public ::testing::Test {
protected:
    void SetUp() override {
        store().clear();
        store().set("system", "username", "admin");
        store().set("system", "encrypted-password", kHashTarnadmin);
        folder_ = g_captureFolder;
        g_captureFolder = nullptr;  // never capture on the build host
        g_curIfIndex = 0;
    }
    void TearDown() override { g_captureFolder = folder_; }
    std::vector<Datagram> serve(const Datagram &d) {
        std::vector<Datagram> sent;
        const auto record = [](void *ctx, std::span<const uint8_t> reply) {
            static_cast<std::vector<Datagram> *>(ctx)->emplace_back(reply.begin(), reply.end());
        };
        serveDatagram(d, kOwnMac, kOwnIp, ReplySink{record, &sent}, counter_);
        return sent;
    }
    unsigned counter_ = 0;
    const char *folder_ = nullptr;
};

TEST_F(Serve, AddressingRulesDropWithoutAnswer) {
    const std::pair<const char *, Datagram> cases[] = {
        {"broadcast with own MAC", request(0, 0xA1, kOwnMac, kNoIp)},
        {"broadcast of protected op, right credentials",
         withCredentials(request(0, 0xA2, kAllMac, kNoIp),
                         "YWRtaW4=", "dGFybmFkbWlu")},  // admin, tarnadmin
        {"broadcast of unknown op", request(0, 0x99, kAllMac, kNoIp)},
        {"unknown addressing mode", request(0x7776, 0x99, kOwnMac, kOwnIp)},
        {"short datagram", Datagram{0xFD, 0xFD, 0x01, 0x00, 0x99}}};
    for (const auto &[name, datagram] : cases)
        EXPECT_TRUE(serve(datagram).empty()) << name;
}

// A protected operation without the credential block (wrong passwords: in the sandbox).
TEST_F(Serve, NoCredentialsGetAuthFail) {
    const Datagram noCredentials = request(0x7777, 0xA6, kOwnMac, kOwnIp);
    EXPECT_EQ(std::vector<Datagram>{coreReply(noCredentials, 2)}, serve(noCredentials));
}

// The 64-character user field has no terminator; the password field behind it must not run into it.
TEST_F(Serve, FullUserFieldDecodesFromItsOwnBytes) {
    const std::string user64(64, 'Q');  // "QQQQ" decodes to 0x41 0x04 0x10
    serve(withCredentials(request(0x7777, 0xA3, kOwnMac, kOwnIp), user64,
                          "dGFybmFkbWlueA=="));  // tarnadminx
    std::string expected;
    for (int i = 0; i < 16; i++)
        expected += "\x41\x04\x10";
    EXPECT_EQ(expected, std::string(g_currentUser));
}

}  // namespace
