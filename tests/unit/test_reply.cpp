// Reply capacity, and the operation table whose order the
// supported-operations reply publishes.
#include <gtest/gtest.h>

#include <array>

#include "handler_table.h"
#include "reply.h"

using namespace wire;

TEST(Reply, RefusesABufferTooSmall) {
    const message_t request{kTypeRequest, 0xA1B2, OP_GET_DATETIME, {}, {}, kAddrUnicast, 7, 300};
    std::array<uint8_t, 37> reply{};
    EXPECT_EQ(0u, finishReply(request, reply, 16));
    EXPECT_EQ((std::array<uint8_t, 37>{}), reply);
    EXPECT_EQ(37u, finishReply(request, reply, 15));  // an exact fit
}

TEST(HandlerTableOrder, IsTheProtocolsList) {
    struct Expected {
        uint16_t op;
        uint8_t auth;
    };
    constexpr Expected kList[] = {
        {0xA1, 0}, {0xA2, 1}, {0xA3, 1},  {0xA4, 1},  {0xA5, 1},  {0xA6, 1},  {0xA7, 1}, {0xAA, 1},
        {0xAB, 1}, {0xAC, 1}, {0xAD, 1},  {0xC0, 1},  {0xC9, 1},  {0xD0, 0},  {0xD1, 1}, {0xD2, 1},
        {0xD4, 0}, {0xD8, 1}, {0x100, 0}, {0x101, 0}, {0x102, 0}, {0x103, 0},
    };
    size_t i = 0;
    for (; HandlerTable[i].handler != nullptr; i++) {
        ASSERT_LT(i, std::size(kList));
        EXPECT_EQ(kList[i].op, HandlerTable[i].uOP_Code) << i;
        EXPECT_EQ(kList[i].auth, HandlerTable[i].auth) << i;
    }
    EXPECT_EQ(std::size(kList), i);
    EXPECT_EQ(nullptr, findHandler(0x0000));  // not the terminating entry
}
