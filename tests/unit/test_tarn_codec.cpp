// The utility's requests byte for byte, and its reading of replies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec.h"

using namespace tarn;
using B = std::vector<uint8_t>;

namespace {

B text(const std::string &s, size_t width) {
    B out(s.begin(), s.end());
    out.resize(width, 0);
    return out;
}

B cat(std::initializer_list<B> parts) {
    B out;
    for (const B &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Address kDev{{0x02, 0, 0, 0, 0, 0x07}, {192, 0, 2, 17}};
const B kV6{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x11};
const B kV4Settings{192, 0, 2, 17, 0,   0, 0, 1,  255, 255, 255, 0,
                    192, 0, 2, 1,  192, 0, 2, 53, 192, 0,   2,   54};

// A discovery reply body (static DNS) whose name fills its field.
B discoverBody(uint8_t dhcp, uint8_t ipv6Auto) {
    const B ident = cat({text("Vemira AP", 128), text("TAP-2400", 32), text("1.2.3", 32), B(6, 0)});
    const B v4 = cat({{0x02, 0, 0, 0, 0, 0x07}, text(std::string(64, 'n'), 64), kV4Settings});
    return cat(
        {ident, v4, {dhcp}, text("20240501123456", 123), kV6, {64}, B(48, 0), {ipv6Auto, 0}});
}

}  // namespace

TEST(TarnRequest, BroadcastAndAddressedHeadersWithTheCredentialBlock) {
    EXPECT_EQ(encodeRequest(0xA1, 0x1234, std::nullopt, {}, {}),
              cat({{0xFD, 0xFD, 0x34, 0x12, 0xA1, 0}, B(6, 0xFF), B(10, 0)}));
    const B addressed{0xFD, 0xFD, 0xCD, 0xAB, 0xC0, 0, 0x02, 0,    0,
                      0,    0,    0x07, 192,  0,    2, 17,   0x77, 0x77};
    EXPECT_EQ(encodeRequest(0xC0, 0xABCD, kDev, {"admin", "tarnadmin"}, {}),
              cat({addressed, B(4, 0), text("YWRtaW4=", 64), text("dGFybmFkbWlu", 64)}));
    // The longest password fills its field without a terminator.
    const std::string longest(kMaxCredentialText, 'x');
    const B full = encodeRequest(0xC0, 1, kDev, {"admin", longest}, {});
    EXPECT_EQ(std::string(full.begin() + 86, full.end()), base64(longest));
}

TEST(TarnRequest, BodyLengthLeavesTheCredentialBlockOut) {
    // SNMP carries no credential block; the body length leaves the block out.
    const B snmp = encodeRequest(0xD4, 1, kDev, {"admin", "x"}, snmpBody(true, "pub", "priv"));
    EXPECT_EQ(snmp[20], 65);
    EXPECT_EQ(B(snmp.begin() + 22, snmp.end()), cat({{1}, text("pub", 32), text("priv", 32)}));
    const B vlan = encodeRequest(0xD2, 1, kDev, {"admin", "x"}, vlanBody(100));
    EXPECT_EQ(vlan[20] | vlan[21] << 8, 166);  // past one byte
    EXPECT_EQ(B(vlan.begin() + 150, vlan.end()), cat({B(32, 0), {100, 0, 0, 0}, B(130, 0)}));
}

TEST(TarnRequestBody, SetSendsBackWhatDiscoverySaw) {
    // What set sends when nothing changes: the discovery's values, DHCP off
    // (0xFF in the reply) sent as 0.
    EXPECT_EQ(basicInfoBody(basicInfoFrom(parseDiscover(discoverBody(0xFF, 1)))),
              cat({text(std::string(64, 'n'), 64), kV4Settings, {0}, kV6, {64}, B(48, 0), {1}}));
}

TEST(TarnRequestBody, TransferAndDynamicDns) {
    Server v6{.ipv6 = true};
    std::copy(kV6.begin(), kV6.end(), v6.v6.begin());
    EXPECT_EQ(transferStartBody(1, v6, "a.cfg"), cat({{1, 1, 2}, kV6, text("a.cfg", 128)}));
    const B account = cat({text("u", 64), text("p", 64), text("d.example", 64)});
    EXPECT_EQ(netAdvBody(Ddns{true, false, "u", "p", "d.example"}),
              cat({B(129, 0), {2, 0, 255}, account, B(201, 0)}));
}

TEST(TarnReply, Bodies) {
    const DeviceInfo d = parseDiscover(discoverBody(0xFF, 1)),
                     on = parseDiscover(discoverBody(1, 0));
    EXPECT_EQ((std::tuple{d.model, d.datetime, d.staticDns, on.dhcp, on.ipv6Auto}),
              (std::tuple{"TAP-2400", "20240501123456", true, true, false}));
    EXPECT_EQ(parseOpList(B{0xA6, 0, 0x00, 0x01, 0, 0, 0xD0, 0}),
              (std::vector<uint16_t>{0xA6, 0x100}));
    EXPECT_EQ(parseResult(B{0xEE, 0x03, 0, 0}), 1006u);
    EXPECT_FALSE(parseNetStatus({}).reported);
    const NetStatus s = parseNetStatus(cat({{1, 0, 0, 0, 169, 254, 10, 20}, B(12, 0)}));
    EXPECT_EQ((std::tuple{s.reported, s.linkLocal, s.ip}),
              (std::tuple{true, true, Ipv4{169, 254, 10, 20}}));
    const DateTime t =
        parseDatetime(cat({text("20240501123456", 16), {7, 0, 1, 1}, text("ntp.example", 80)}));
    EXPECT_EQ((std::tuple{t.stamp, t.timeZone, t.daylightSaving, t.ntp, t.ntpServer}),
              (std::tuple{"20240501123456", uint8_t{7}, uint8_t{1}, true, "ntp.example"}));
    const Ddns dd = parseNetAdv(cat({B(129, 0), {2, 0xFD}, B(394, 0)}));  // only bit value 2 counts
    EXPECT_TRUE(dd.enabled && !dd.connected);
    // Announcements only from announcement datagrams, not another utility's requests.
    const B header{0xFF, 0xFF, 0, 0, 0xA0, 0, 2, 0, 0, 0, 0, 3};
    B ann = cat({header, B(138, 0), {2, 0, 0, 0, 0, 3}, B(64, 0), text("ap-3", 97)});
    ASSERT_TRUE(decodeAnnouncement(ann));
    ann[0] = ann[1] = 0xFD;
    EXPECT_FALSE(decodeAnnouncement(ann));
    EXPECT_FALSE(decodeAnnouncement(B{0xFF, 0xFF}));
}
