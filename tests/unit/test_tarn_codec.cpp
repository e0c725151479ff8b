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
const Credentials kAdmin{"admin", "tarnadmin"};

}  // namespace

TEST(TarnRequest, BroadcastDiscoveryIsTheBareHeader) {
    const B expected{0xFD, 0xFD, 0x34, 0x12, 0xA1, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                     0xFF, 0,    0,    0,    0,    0,    0,    0,    0,    0,    0};
    EXPECT_EQ(encodeRequest(0xA1, 0x1234, std::nullopt, {}, {}), expected);
}

TEST(TarnRequest, AddressedCommitCarriesTargetAndCredentialBlock) {
    const B header{0xFD, 0xFD, 0xCD, 0xAB, 0xC0, 0x00, 0x02, 0, 0, 0, 0, 0x07,
                   192,  0,    2,    17,   0x77, 0x77, 0,    0, 0, 0};
    const B expected = cat({header, text("YWRtaW4=", 64), text("dGFybmFkbWlu", 64)});
    EXPECT_EQ(encodeRequest(0xC0, 0xABCD, kDev, kAdmin, {}), expected);
}

TEST(TarnRequest, SnmpBodyFollowsTheHeaderWithoutCredentials) {
    const B msg = encodeRequest(0xD4, 1, kDev, kAdmin, snmpBody(true, "pub", "priv"));
    ASSERT_EQ(msg.size(), 22u + 65u);
    EXPECT_EQ(msg[20], 65);  // uBodyLen
    EXPECT_EQ(B(msg.begin() + 22, msg.end()), cat({{1}, text("pub", 32), text("priv", 32)}));
}

TEST(TarnRequest, BodyLengthCountsTheBodyNotTheCredentials) {
    const B msg = encodeRequest(0xD2, 1, kDev, kAdmin, vlanBody(100));
    ASSERT_EQ(msg.size(), 150u + 166u);
    EXPECT_EQ(msg[20] | msg[21] << 8, 166);
    EXPECT_EQ(B(msg.begin() + 150 + 32, msg.begin() + 150 + 36), (B{100, 0, 0, 0}));
}

TEST(TarnRequest, LongestCredentialFillsTheFieldWithoutTerminator) {
    const std::string password(kMaxCredentialText, 'x');
    const B msg = encodeRequest(0xC0, 1, kDev, {"admin", password}, {});
    EXPECT_EQ(std::string(msg.begin() + 86, msg.begin() + 150), base64(password));
    EXPECT_EQ(base64(password).size(), 64u);
}

TEST(TarnRequest, BasicInfoFieldsAtTheirOffsets) {
    BasicInfo b;
    b.name = "lobby";
    b.ip = {192, 0, 2, 50};
    b.staticDns = true;
    b.mask = {255, 255, 255, 0};
    b.gateway = {192, 0, 2, 1};
    b.dns1 = {192, 0, 2, 53};
    b.dns2 = {192, 0, 2, 54};
    b.dhcp = false;
    b.ipv6 = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x05};
    b.ipv6Prefix = 64;
    b.ipv6Auto = true;
    const B body = basicInfoBody(b);
    const B expected = cat({text("lobby", 64), {192, 0, 2, 50}, {0, 0, 0}, {1}, {255, 255, 255, 0},
                            {192, 0, 2, 1}, {192, 0, 2, 53}, {192, 0, 2, 54}, {0},
                            B(b.ipv6.begin(), b.ipv6.end()), {64}, B(16, 0), B(32, 0), {1}});
    EXPECT_EQ(body, expected);
}

TEST(TarnRequest, ChangeAdminEncodesBothFields) {
    EXPECT_EQ(changeAdminBody("admin", "n3w"), cat({text("YWRtaW4=", 64), text("bjN3", 64)}));
}

TEST(TarnRequest, MultiSsidSetPlacesEntriesFromOffsetTwo) {
    MultiSsid m;
    m.entries[0] = {"main", "1", "4", "secret"};
    m.entries[7] = {"last", "4094", "6", ""};
    const B body = multiSsidSetBody(1, m);
    ASSERT_EQ(body.size(), 450u);
    EXPECT_EQ(body[0], 1);
    EXPECT_EQ(body[1], 1);  // radio state
    EXPECT_EQ(B(body.begin() + 2, body.begin() + 58),
              cat({text("main", 32), text("1", 4), text("4", 4), text("secret", 16)}));
    EXPECT_EQ(B(body.begin() + 2 + 7 * 56, body.end()),
              cat({text("last", 32), B{'4', '0', '9', '4'}, text("6", 4), B(16, 0)}));
}

TEST(TarnRequest, TransferStartForIpv4AndIpv6Servers) {
    Server v4;
    v4.v4 = {192, 0, 2, 1};
    EXPECT_EQ(transferStartBody(2, v4, "fw.bin"),
              cat({{1, 2, 1, 192, 0, 2, 1}, text("fw.bin", 128)}));
    Server v6;
    v6.ipv6 = true;
    v6.v6 = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ(transferStartBody(1, v6, "a.cfg"),
              cat({{1, 1, 2}, B(v6.v6.begin(), v6.v6.end()), text("a.cfg", 128)}));
    EXPECT_EQ(transferQueryBody(), B{2});
}

TEST(TarnRequest, DatetimeAndNetAdvBodies) {
    DateTime dt{"20240501123456", 3, 1, true, "pool.example"};
    EXPECT_EQ(datetimeBody(dt), cat({text("20240501123456", 16), {3, 0, 1, 1}, text("pool.example", 64)}));
    Ddns d{true, false, "u", "p", "d.example"};
    const B body = netAdvBody(d);
    EXPECT_EQ(B(body.begin(), body.begin() + 129), B(129, 0));
    EXPECT_EQ(B(body.begin() + 129, body.begin() + 132), (B{2, 0, 255}));
    EXPECT_EQ(B(body.begin() + 132, body.begin() + 324),
              cat({text("u", 64), text("p", 64), text("d.example", 64)}));
    EXPECT_EQ(body.size(), 525u);
}

// ---- replies -------------------------------------------------------------

namespace {

B discoverBody(uint8_t dhcp, uint8_t dnsMode, uint8_t ipv6Auto) {
    B b(483, 0);
    auto put = [&](size_t off, const B &v) { std::copy(v.begin(), v.end(), b.begin() + off); };
    put(0, text("Vemira AP", 64));
    put(128, text("TAP-2400", 32));
    put(160, text("1.2.3", 32));
    put(198, {0x02, 0, 0, 0, 0, 0x07});
    put(204, text(std::string(64, 'n'), 64));  // a name that fills its field
    put(268, {192, 0, 2, 17});
    b[275] = dnsMode;
    put(276, {255, 255, 255, 0});
    put(280, {192, 0, 2, 1});
    put(284, {192, 0, 2, 53});
    put(288, {192, 0, 2, 54});
    b[292] = dhcp;
    put(293, text("20240501123456", 16));
    put(416, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x11});
    b[432] = 64;
    b[481] = ipv6Auto;
    return b;
}

}  // namespace

TEST(TarnReply, DiscoverFields) {
    const DeviceInfo d = parseDiscover(discoverBody(0xFF, 1, 0));
    EXPECT_EQ(d.product, "Vemira AP");
    EXPECT_EQ(d.model, "TAP-2400");
    EXPECT_EQ(d.firmware, "1.2.3");
    EXPECT_EQ(d.mac, (Mac{0x02, 0, 0, 0, 0, 0x07}));
    EXPECT_EQ(d.name, std::string(64, 'n'));
    EXPECT_EQ(d.ip, (Ipv4{192, 0, 2, 17}));
    EXPECT_FALSE(d.dhcp);  // the device reports off as 0xFF
    EXPECT_TRUE(d.staticDns);
    EXPECT_EQ(d.datetime, "20240501123456");
    EXPECT_EQ(d.ipv6Prefix, 64);
    EXPECT_FALSE(d.ipv6Auto);
    EXPECT_TRUE(parseDiscover(discoverBody(1, 0, 1)).dhcp);
}

TEST(TarnReply, SetRequestFromDiscoveryKeepsEverything) {
    // What set sends when nothing is changed: the discovery's values, with
    // DHCP off (0xFF in the reply) sent as 0 and the name cut to its field.
    const B body = basicInfoBody(basicInfoFrom(parseDiscover(discoverBody(0xFF, 1, 0))));
    EXPECT_EQ(B(body.begin(), body.begin() + 64), text(std::string(64, 'n'), 64));
    EXPECT_EQ(B(body.begin() + 64, body.begin() + 68), (B{192, 0, 2, 17}));
    EXPECT_EQ(body[71], 1);
    EXPECT_EQ(B(body.begin() + 72, body.begin() + 88),
              (B{255, 255, 255, 0, 192, 0, 2, 1, 192, 0, 2, 53, 192, 0, 2, 54}));
    EXPECT_EQ(body[88], 0);
    EXPECT_EQ(body[89], 0x20);
    EXPECT_EQ(body[105], 64);
    EXPECT_EQ(body[154], 0);
}

TEST(TarnReply, OpListStopsAtTheTerminator) {
    EXPECT_EQ(parseOpList(B{0xA6, 0, 0x00, 0x01, 0, 0, 0xD0, 0}), (std::vector<uint16_t>{0xA6, 0x100}));
    EXPECT_TRUE(parseOpList(B{0, 0}).empty());
}

TEST(TarnReply, MultiSsidEntriesFromOffsetThree) {
    B body(451, 0);
    body[2] = 1;
    const B e5 = cat({text("staff", 32), B{'4', '0', '9', '4'}, text("2", 4), text(std::string(16, 'k'), 16)});
    std::copy(e5.begin(), e5.end(), body.begin() + 3 + 5 * 56);
    const MultiSsid m = parseMultiSsid(body);
    EXPECT_EQ(m.band, 1);
    EXPECT_EQ(m.entries[5].ssid, "staff");
    EXPECT_EQ(m.entries[5].vlan, "4094");
    EXPECT_EQ(m.entries[5].security, "2");
    EXPECT_EQ(m.entries[5].key, std::string(16, 'k'));
    EXPECT_EQ(m.entries[4].ssid, "");
}

TEST(TarnReply, TransferResultAndMessage) {
    B body(130, 0);
    body[0] = 1;
    body[1] = 1;
    const std::string msg = "\"complete\" is under processing";
    std::copy(msg.begin(), msg.end(), body.begin() + 2);
    const TransferStatus t = parseTransfer(body);
    EXPECT_EQ(t.subService, 1);
    EXPECT_EQ(t.result, 1);
    EXPECT_EQ(t.message, msg);
}

TEST(TarnReply, NetStatusHeaderOnlyMeansNotReported) {
    EXPECT_FALSE(parseNetStatus({}).reported);
    const NetStatus s = parseNetStatus(B{1, 0, 0, 0, 169, 254, 10, 20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_TRUE(s.reported);
    EXPECT_TRUE(s.linkLocal);
    EXPECT_EQ(s.ip, (Ipv4{169, 254, 10, 20}));
}

TEST(TarnReply, ResultDatetimeAndDdns) {
    EXPECT_EQ(parseResult(B{0xEE, 0x03, 0, 0}), 1006u);
    B dt = cat({text("20240501123456", 16), {7, 0, 1, 1}, text("ntp.example", 64), B(16, 0)});
    const DateTime d = parseDatetime(dt);
    EXPECT_EQ((std::tuple{d.stamp, d.timeZone, d.daylightSaving, d.ntp, d.ntpServer}),
              (std::tuple{std::string("20240501123456"), uint8_t{7}, uint8_t{1}, true,
                          std::string("ntp.example")}));
    B adv(525, 0);
    adv[129] = 2;
    adv[130] = 0xFD;  // only bit value 2 counts
    const Ddns dd = parseNetAdv(adv);
    EXPECT_TRUE(dd.enabled);
    EXPECT_FALSE(dd.connected);
}

TEST(TarnReply, AnnouncementOnlyFromAnnouncementDatagrams) {
    B msg(22 + 295, 0);
    msg[0] = msg[1] = 0xFF;
    msg[4] = 0xA0;
    const B mac{0x02, 0, 0, 0, 0, 0x03};
    std::copy(mac.begin(), mac.end(), msg.begin() + 22 + 128);
    std::copy(mac.begin(), mac.end(), msg.begin() + 6);
    const std::string name = "ap-3";
    std::copy(name.begin(), name.end(), msg.begin() + 22 + 198);
    const std::optional<Announcement> a = decodeAnnouncement(msg);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->mac, (Mac{0x02, 0, 0, 0, 0, 0x03}));
    EXPECT_EQ(a->name, "ap-3");
    msg[0] = msg[1] = 0xFD;  // another utility's request on the same port
    EXPECT_FALSE(decodeAnnouncement(msg));
    EXPECT_FALSE(decodeAnnouncement(B{0xFF, 0xFF}));
}
