// Wire helpers: byte order, bounds, text fields and the header layout.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "wire.h"

using namespace wire;

namespace {

std::vector<uint8_t> bytes(std::initializer_list<int> list) {
    std::vector<uint8_t> v;
    for (int b : list)
        v.push_back(static_cast<uint8_t>(b));
    return v;
}

}  // namespace

TEST(Wire, IntegersAreLittleEndianWhateverTheHost) {
    std::array<uint8_t, 8> buf{};
    store_le16(buf, 1, 0xFDFE);
    store_le32(buf, 3, 0x11223344);
    EXPECT_EQ(bytes({0x00, 0xFE, 0xFD, 0x44, 0x33, 0x22, 0x11, 0x00}),
              std::vector<uint8_t>(buf.begin(), buf.end()));
    EXPECT_EQ(0xFDFE, load_le16(buf, 1));
    EXPECT_EQ(0x11223344u, load_le32(buf, 3));
    EXPECT_EQ(0x44, load_u8(buf, 3));
}

TEST(Wire, ReadsPastTheEndGiveZero) {
    const std::array<uint8_t, 3> buf = {0x01, 0x02, 0x03};
    EXPECT_EQ(0x0003, load_le16(buf, 2));  // high byte beyond the end
    EXPECT_EQ(0u, load_le32(buf, 3));
    EXPECT_EQ(0, load_u8(buf, 100));
    std::array<uint8_t, 4> dst = {9, 9, 9, 9};
    load_bytes(buf, 1, dst);
    EXPECT_EQ((std::array<uint8_t, 4>{0x02, 0x03, 0, 0}), dst);
}

TEST(Wire, WritesThatDoNotFitAreDropped) {
    std::array<uint8_t, 4> buf{};
    store_le16(buf, 3, 0xFFFF);
    store_le32(buf, 1, 0xFFFFFFFF);
    store_u8(buf, 4, 0xFF);
    store_text(buf, 2, 4, "abcd");
    store_bytes(buf, 3, std::array<uint8_t, 2>{1, 2});
    EXPECT_EQ((std::array<uint8_t, 4>{}), buf);
    EXPECT_TRUE(field(buf, 2, 3).empty());
    EXPECT_EQ(2u, field(buf, 2, 2).size());
    EXPECT_TRUE(field(buf, SIZE_MAX, 2).empty());
}

TEST(Wire, TextFillsItsFieldWithoutTerminatorWhenAsLong) {
    std::array<uint8_t, 8> buf;
    buf.fill(0xAA);
    store_text(buf, 1, 4, "abcdef");
    EXPECT_EQ(bytes({0xAA, 'a', 'b', 'c', 'd', 0xAA, 0xAA, 0xAA}),
              std::vector<uint8_t>(buf.begin(), buf.end()));
    EXPECT_EQ("abcd", load_text(buf, 1, 4));

    store_text(buf, 1, 4, "ab");
    EXPECT_EQ(bytes({0xAA, 'a', 'b', 0, 0, 0xAA, 0xAA, 0xAA}),
              std::vector<uint8_t>(buf.begin(), buf.end()));
    EXPECT_EQ("ab", load_text(buf, 1, 4));
}

TEST(Wire, TextEndsAtTheBufferEnd) {
    const std::array<uint8_t, 4> buf = {'x', 'y', 'z', 'w'};
    EXPECT_EQ("zw", load_text(buf, 2, 64));
    EXPECT_EQ("", load_text(buf, 4, 64));
}

// A reply header as it must appear on the wire: type EE FE, op 0x100 as
// 00 01, addresses unchanged.
TEST(Wire, HeaderEncodesInWireOrder) {
    message_t h{};
    h.uMsgType = kTypeReply;
    h.uMsgTag = 0x1234;
    h.uOP_Code = OP_FIRMWARE_UPGRADE;
    h.ucMac[0] = 0x02;
    h.ucMac[5] = 0x07;
    h.ucIp[0] = 192;
    h.ucIp[3] = 11;
    h.uStatus = kAddrUnicast;
    h.uRetFlag = kRetFlag;
    h.uBodyLen = 130;
    std::array<uint8_t, kHeaderLen> out{};
    encode_header(h, out);
    EXPECT_EQ(bytes({0xEE, 0xFE, 0x34, 0x12, 0x00, 0x01, 0x02, 0, 0, 0, 0, 0x07, 192, 0, 0, 11,
                     0x77, 0x77, 0x02, 0x00, 0x82, 0x00}),
              std::vector<uint8_t>(out.begin(), out.end()));
}

TEST(Wire, HeaderDecodesFromWireBytes) {
    const auto wireBytes = bytes({0xFD, 0xFD, 0x01, 0x00, 0xA1, 0x00, 0xFF, 0xFF, 0xFF, 0xFF,
                                  0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0x05, 0x00, 0x10, 0x01});
    const message_t h = decode_header(wireBytes);
    EXPECT_EQ(kTypeRequest, h.uMsgType);
    EXPECT_EQ(1, h.uMsgTag);
    EXPECT_EQ(OP_DISCOVER, h.uOP_Code);
    EXPECT_EQ(0xFF, h.ucMac[0]);
    EXPECT_EQ(0xFF, h.ucMac[5]);
    EXPECT_EQ(0, h.ucIp[3]);
    EXPECT_EQ(kAddrBroadcast, h.uStatus);
    EXPECT_EQ(5, h.uRetFlag);
    EXPECT_EQ(0x0110, h.uBodyLen);

    std::array<uint8_t, kHeaderLen> again{};
    encode_header(h, again);
    EXPECT_EQ(wireBytes, std::vector<uint8_t>(again.begin(), again.end()));
}

TEST(Wire, ShortDatagramDecodesAsZeroPadded) {
    const auto shortBytes = bytes({0xFD, 0xFD, 0x07, 0x00, 0x00, 0x01, 0xAA});
    const message_t h = decode_header(shortBytes);
    EXPECT_EQ(kTypeRequest, h.uMsgType);
    EXPECT_EQ(7, h.uMsgTag);
    EXPECT_EQ(OP_FIRMWARE_UPGRADE, h.uOP_Code);
    EXPECT_EQ(0xAA, h.ucMac[0]);
    EXPECT_EQ(0, h.ucMac[1]);
    EXPECT_EQ(0, h.uStatus);
    EXPECT_EQ(0, h.uBodyLen);
}
