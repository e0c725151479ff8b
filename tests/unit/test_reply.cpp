// Reply capacity.
#include <gtest/gtest.h>

#include <array>

#include "reply.h"

using namespace wire;

TEST(Reply, RefusesABufferTooSmall) {
    const message_t request{kTypeRequest, 0xA1B2, OP_GET_DATETIME, {}, {}, kAddrUnicast, 7, 300};
    std::array<uint8_t, 37> reply{};
    EXPECT_EQ(0u, finishReply(request, reply, 16));
    EXPECT_EQ((std::array<uint8_t, 37>{}), reply);
    EXPECT_EQ(37u, finishReply(request, reply, 15));  // an exact fit
}
