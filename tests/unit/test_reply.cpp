// Reply building shared by the handlers, and the operation table whose
// order the supported-operations reply publishes.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "daemon_state.h"
#include "handler_table.h"
#include "reply.h"
#include "req_func_firmware.h"
#include "temp_store.h"

using namespace wire;

namespace {

TempStore &store() {
    static TempStore s;
    return s;
}

message_t request() {
    message_t m{};
    m.uMsgType = kTypeRequest;
    m.uMsgTag = 0xA1B2;
    m.uOP_Code = OP_GET_DATETIME;
    m.ucMac[0] = 0x02;
    m.ucMac[5] = 0x09;
    m.ucIp[0] = 192;
    m.ucIp[3] = 99;
    m.uStatus = kAddrUnicast;
    m.uRetFlag = 7;
    m.uBodyLen = 300;
    return m;
}

std::vector<uint8_t> head(std::span<const uint8_t> reply) {
    return {reply.begin(), reply.begin() + kHeaderLen};
}

}  // namespace

TEST(Reply, KeepsTheRequestsAddressing) {
    std::array<uint8_t, 64> reply{};
    EXPECT_EQ(22u + 16u, finishReply(request(), reply, 16));
    EXPECT_EQ((std::vector<uint8_t>{0xEE, 0xFE, 0xB2, 0xA1, 0xAC, 0x00, 0x02, 0, 0, 0, 0, 0x09,
                                    192, 0, 0, 99, 0x00, 0x00, 0x02, 0x00, 0x10, 0x00}),
              head(reply));
}

TEST(Reply, RefusesABufferTooSmall) {
    std::array<uint8_t, 37> reply{};
    EXPECT_EQ(0u, finishReply(request(), reply, 16));
    EXPECT_EQ((std::array<uint8_t, 37>{}), reply);
    EXPECT_EQ(37u, finishReply(request(), reply, 15));  // an exact fit
}

TEST(Reply, OwnAddressComesFromTheStore) {
    store().clear();
    store().set("management", "mac", "02:00:00:00:00:05");
    store().set("management", "ip", "192.0.2.15");
    g_curIfIndex = 0;
    std::array<uint8_t, 64> reply{};
    EXPECT_EQ(22u, finishReplyOwnAddress(request(), reply, 0));
    EXPECT_EQ((std::vector<uint8_t>{0xEE, 0xFE, 0xB2, 0xA1, 0xAC, 0x00, 0x02, 0, 0, 0, 0, 0x05,
                                    192, 0, 2, 15, 0, 0, 0x02, 0, 0, 0}),
              head(reply));
}

TEST(Reply, OwnAddressMissingGivesZeros) {
    store().clear();
    g_curIfIndex = 0;
    std::array<uint8_t, 22> reply{};
    EXPECT_EQ(22u, finishReplyOwnAddress(request(), reply, 0));
    EXPECT_EQ((std::vector<uint8_t>{0xEE, 0xFE, 0xB2, 0xA1, 0xAC, 0x00, 0, 0, 0, 0, 0, 0, 0, 0,
                                    0, 0, 0, 0, 0x02, 0, 0, 0}),
              head(reply));
}

TEST(Reply, BodyFollowsTheHeader) {
    std::array<uint8_t, 30> reply{};
    const auto body = replyBody(reply);
    EXPECT_EQ(reply.data() + 22, body.data());
    EXPECT_EQ(8u, body.size());
    EXPECT_TRUE(replyBody(std::span<uint8_t>(reply).first(22)).empty());
}

TEST(Reply, ResultIsCodeThenTwelveZeros) {
    std::array<uint8_t, 20> body;
    body.fill(0xCC);
    writeResult(body, 1006);
    EXPECT_EQ((std::array<uint8_t, 20>{0xEE, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xCC,
                                       0xCC, 0xCC, 0xCC}),
              body);
}

TEST(HandlerTableOrder, IsTheProtocolsList) {
    struct Expected {
        uint16_t op;
        uint8_t auth;
    };
    constexpr Expected kList[] = {
        {0xA1, 0}, {0xA2, 1}, {0xA3, 1}, {0xA4, 1}, {0xA5, 1},  {0xA6, 1},  {0xA7, 1},  {0xAA, 1},
        {0xAB, 1}, {0xAC, 1}, {0xAD, 1}, {0xC0, 1}, {0xC9, 1},  {0xD0, 0},  {0xD1, 1},  {0xD2, 1},
        {0xD4, 0}, {0xD8, 1}, {0x100, 0}, {0x101, 0}, {0x102, 0}, {0x103, 0},
    };
    size_t i = 0;
    for (; HandlerTable[i].handler != nullptr; i++) {
        ASSERT_LT(i, std::size(kList));
        EXPECT_EQ(kList[i].op, HandlerTable[i].uOP_Code) << i;
        EXPECT_EQ(kList[i].auth, HandlerTable[i].auth) << i;
    }
    EXPECT_EQ(std::size(kList), i);
}

TEST(HandlerTableOrder, Lookup) {
    const HandlerEntry *e = findHandler(0x0100);
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(&funcFirmwareUpgrade, e->handler);
    EXPECT_EQ(nullptr, findHandler(0x00A0));  // the announcement's code
    EXPECT_EQ(nullptr, findHandler(0x0000));  // not the terminating entry
    EXPECT_EQ(nullptr, findHandler(0x0099));
}
