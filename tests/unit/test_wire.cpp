// Wire helpers' bounds, text fields, header order and reply capacity; body
// integers are checked byte for byte in test_tarn_codec.
#include <gtest/gtest.h>

#include <array>

#include "reply.h"
#include "wire.h"

using namespace wire;

TEST(Wire, ShortBuffersReadZeroAndDropWritesThatDoNotFit) {
    const std::array<uint8_t, 3> in = {0x01, 0x02, 0x03};
    // The 16-bit value's high byte is beyond the end.
    EXPECT_EQ(std::tuple(0x0003, 0u, 0, ""), std::tuple(load_le16(in, 2), load_le32(in, 3),
                                                        load_u8(in, 100), load_text(in, 3, 64)));
    std::array<uint8_t, 4> dst = {9, 9, 9, 9};
    load_bytes(in, 1, dst);
    EXPECT_EQ((std::array<uint8_t, 4>{0x02, 0x03, 0, 0}), dst);

    std::array<uint8_t, 4> out{};
    store_le16(out, 3, 0xFFFF);
    store_le32(out, 1, 0xFFFFFFFF);
    store_u8(out, 4, 0xFF);
    store_text(out, 2, 4, "abcd");
    store_bytes(out, 3, std::array<uint8_t, 2>{1, 2});
    EXPECT_EQ((std::array<uint8_t, 4>{}), out);
    EXPECT_EQ(std::tuple(0u, 2u, 0u), std::tuple(field(out, 2, 3).size(), field(out, 2, 2).size(),
                                                 field(out, SIZE_MAX, 2).size()));
}

TEST(Wire, TextFillsItsFieldWithoutTerminatorWhenAsLong) {
    std::array<uint8_t, 6> buf;
    buf.fill(0xAA);
    store_text(buf, 1, 4, "abcdef");
    EXPECT_EQ((std::array<uint8_t, 6>{0xAA, 'a', 'b', 'c', 'd', 0xAA}), buf);
    EXPECT_EQ("abcd", load_text(buf, 1, 4));
    store_text(buf, 1, 4, "ab");
    EXPECT_EQ((std::array<uint8_t, 6>{0xAA, 'a', 'b', 0, 0, 0xAA}), buf);
}

// Type EE FE and op 0x100 as 00 01; addresses unchanged.
TEST(Wire, HeaderInWireOrder) {
    const std::array<uint8_t, kHeaderLen> bytes = {0xEE, 0xFE, 0x34, 0x12, 0x00, 0x01, 0x02, 0,
                                                   0,    0,    0,    0x07, 192,  0,    0,    11,
                                                   0x77, 0x77, 0x02, 0x00, 0x82, 0x00};
    const uint8_t mac[]{0x02, 0, 0, 0, 0, 0x07}, ip[]{192, 0, 0, 11};
    message_t h{kTypeReply, 0x1234, OP_FIRMWARE_UPGRADE, {}, {}, kAddrUnicast, kRetFlag, 130};
    std::copy_n(mac, 6, h.ucMac);
    std::copy_n(ip, 4, h.ucIp);
    std::array<uint8_t, kHeaderLen> out{};
    encode_header(h, out);
    EXPECT_EQ(bytes, out);
    // Decoding gives back every field: encoded again, the same bytes.
    out = {};
    encode_header(decode_header(bytes), out);
    EXPECT_EQ(bytes, out);
}

TEST(Reply, RefusesABufferTooSmall) {
    const message_t request{kTypeRequest, 0xA1B2, OP_GET_DATETIME, {}, {}, kAddrUnicast, 7, 300};
    std::array<uint8_t, 37> reply{};
    EXPECT_EQ(0u, finishReply(request, reply, 16));
    EXPECT_EQ((std::array<uint8_t, 37>{}), reply);
    EXPECT_EQ(37u, finishReply(request, reply, 15));  // an exact fit
}
