// Writes the fuzzers' seed corpus: a valid request for each of the 22
// operations (and the variants that take different paths: broadcast and
// addressed, IPv4 and IPv6 servers, TFTP and HTTP, start and query), plus
// small texts for the parser targets. Usage: make_seeds OUTDIR
#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "wire.h"

namespace fs = std::filesystem;
using namespace wire;
using namespace std::string_view_literals;

namespace {

// The sandbox's first access point, as the factory defaults describe it.
constexpr std::array<uint8_t, 6> kOwnMac = {0x02, 0, 0, 0, 0, 0x01};
constexpr std::array<uint8_t, 4> kOwnIp = {192, 0, 2, 11};
constexpr std::array<uint8_t, 6> kAllMacs = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

std::string base64(std::string_view text) {
    std::string out(4 * ((text.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out.data()),
                                  reinterpret_cast<const unsigned char *>(text.data()),
                                  static_cast<int>(text.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

struct Request {
    uint16_t op;
    bool broadcast;
    bool credentials;
    std::vector<uint8_t> body;
};

std::vector<uint8_t> encode(const Request &r) {
    const size_t bodyOff = r.credentials ? kBodyOffAuth : kBodyOffPlain;
    std::vector<uint8_t> out(bodyOff + r.body.size(), 0);
    message_t hdr{};
    hdr.uMsgType = kTypeRequest;
    hdr.uMsgTag = 0x1234;
    hdr.uOP_Code = r.op;
    if (r.broadcast) {
        std::copy(kAllMacs.begin(), kAllMacs.end(), hdr.ucMac);
        hdr.uStatus = kAddrBroadcast;
    } else {
        std::copy(kOwnMac.begin(), kOwnMac.end(), hdr.ucMac);
        std::copy(kOwnIp.begin(), kOwnIp.end(), hdr.ucIp);
        hdr.uStatus = kAddrUnicast;
    }
    hdr.uBodyLen = static_cast<uint16_t>(r.body.size());
    encode_header(hdr, out);
    if (r.credentials) {
        store_text(out, kOffCredUser, kCredFieldLen, base64("admin"));
        store_text(out, kOffCredPassword, kCredFieldLen, base64("tarnadmin"));
    }
    std::copy(r.body.begin(), r.body.end(), out.begin() + static_cast<long>(bodyOff));
    return out;
}

std::vector<uint8_t> basicInfo() {
    namespace b = basic_info;
    std::vector<uint8_t> body(b::kBodyLen, 0);
    store_text(body, b::kSystemName, b::kSystemNameLen, "ap-one");
    store_bytes(body, b::kIp, std::array<uint8_t, 4>{192, 0, 2, 50});
    store_u8(body, b::kStaticDns, 1);
    store_bytes(body, b::kMask, std::array<uint8_t, 4>{255, 255, 255, 0});
    store_bytes(body, b::kGateway, std::array<uint8_t, 4>{192, 0, 2, 1});
    store_bytes(body, b::kDns1, std::array<uint8_t, 4>{192, 0, 2, 53});
    store_u8(body, b::kDhcp, 0);
    store_bytes(body, b::kIpv6, std::array<uint8_t, 16>{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0,
                                                        0, 0, 0, 0, 0, 0, 0, 0x05});
    store_u8(body, b::kIpv6Prefix, 64);
    return body;
}

std::vector<uint8_t> changeAdmin(std::string_view password) {
    namespace c = change_admin;
    std::vector<uint8_t> body(c::kBodyLen, 0);
    store_text(body, c::kUser, c::kFieldLen, base64("admin"));
    store_text(body, c::kPassword, c::kFieldLen, base64(password));
    return body;
}

std::vector<uint8_t> netAdv() {
    namespace n = net_adv;
    std::vector<uint8_t> body(n::kBodyLen, 0);
    store_u8(body, n::kDdnsEnable, n::kFlagBit);
    store_u8(body, n::kDdnsOption, n::kOptionUnchanged);
    store_text(body, n::kDdnsUser, n::kTextLen, "ddns-user");
    store_text(body, n::kDdnsPassword, n::kTextLen, "ddns-pass");
    store_text(body, n::kDdnsDomain, n::kTextLen, "ap.example.net");
    return body;
}

std::vector<uint8_t> setDatetime() {
    namespace d = datetime;
    std::vector<uint8_t> body(d::kSetBodyLen, 0);
    store_text(body, d::kDatetime, d::kDatetimeLen, "20240102030405");
    store_u8(body, d::kTimeZone, 8);
    store_u8(body, d::kNtp, 1);
    store_text(body, d::kNtpServer, d::kNtpServerLen, "ntp.example.net");
    return body;
}

std::vector<uint8_t> multiSsid(uint8_t radio, bool set) {
    namespace m = multi_ssid;
    if (!set)
        return {radio};
    std::vector<uint8_t> body(m::kSetBodyLen, 0);
    store_u8(body, m::kRadio, radio);
    store_u8(body, m::kRadioState, 1);
    for (size_t i = 0; i < 2; i++) {
        const size_t e = m::kSetEntries + i * m::kEntryLen;
        store_text(body, e + m::kSsid, m::kSsidLen, i == 0 ? "tarn-main" : "tarn-guest");
        store_le32(body, e + m::kVlanId, static_cast<uint32_t>(10 + i));
        store_le32(body, e + m::kSecurity, static_cast<uint32_t>(i));
        store_text(body, e + m::kKey, m::kKeyLen, "secret-key-1234");
    }
    return body;
}

std::vector<uint8_t> vlanConfig(uint32_t id) {
    std::vector<uint8_t> body(vlan::kBodyLen, 0);
    store_le32(body, vlan::kVlanId, id);
    return body;
}

std::vector<uint8_t> snmpConfig(uint8_t state) {
    std::vector<uint8_t> body(snmp::kBodyLen, 0);
    store_u8(body, snmp::kState, state);
    store_text(body, snmp::kRoCommunity, snmp::kCommunityLen, "public");
    store_text(body, snmp::kRwCommunity, snmp::kCommunityLen, "private");
    return body;
}

std::vector<uint8_t> transferStart(uint8_t server, bool ipv6, std::string_view file) {
    namespace t = transfer;
    std::vector<uint8_t> body(ipv6 ? t::kBodyLenV6 : t::kBodyLenV4, 0);
    store_u8(body, t::kSubService, t::SST_CONFIG);
    store_u8(body, t::kServerType, server);
    store_u8(body, t::kAddrType, ipv6 ? t::kAddrIpv6 : t::kAddrIpv4);
    if (ipv6) {
        store_bytes(body, t::kAddr, std::array<uint8_t, 16>{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0,
                                                            0, 0, 0, 0, 0, 0, 0, 0x01});
    } else {
        store_bytes(body, t::kAddr, std::array<uint8_t, 4>{192, 0, 2, 1});
    }
    store_text(body, ipv6 ? t::kFileV6 : t::kFileV4, t::kFileLen, file);
    return body;
}

std::vector<uint8_t> transferQuery() { return {transfer::SST_QUERY}; }

struct Seed {
    const char *name;
    Request request;
};

std::vector<Seed> requestSeeds() {
    using namespace transfer;
    return {
        {"a1-discover", {OP_DISCOVER, true, false, {}}},
        {"a1-discover-addressed", {OP_DISCOVER, false, false, {}}},
        {"a2-set-basic-info", {OP_SET_BASIC_INFO, false, true, basicInfo()}},
        {"a3-user-verify", {OP_USER_VERIFY, false, true, {}}},
        {"a4-change-admin", {OP_CHANGE_ADMIN, false, true, changeAdmin("new$pass`1")}},
        {"a5-query-supported", {OP_QUERY_SUPPORTED, true, true, {}}},
        {"a6-get-net-adv", {OP_GET_NET_ADV, false, true, {}}},
        {"a7-set-net-adv", {OP_SET_NET_ADV, false, true, netAdv()}},
        {"aa-factory-reset-keep-ip", {OP_FACTORY_RESET_KEEP_IP, false, true, {}}},
        {"ab-factory-reset", {OP_FACTORY_RESET, false, true, {}}},
        {"ac-get-datetime", {OP_GET_DATETIME, false, true, {}}},
        {"ad-set-datetime", {OP_SET_DATETIME, false, true, setDatetime()}},
        {"c0-commit", {OP_COMMIT, false, true, {}}},
        {"c9-net-status", {OP_QUERY_NET_STATUS, false, true, {}}},
        {"d0-neighbor", {OP_QUERY_NEIGHBOR, true, false, {}}},
        {"d1-set-multi-ssid", {OP_SET_MULTI_SSID, false, true, multiSsid(0, true)}},
        {"d2-vlan", {OP_VLAN_CONFIG, false, true, vlanConfig(20)}},
        {"d4-snmp", {OP_SNMP_CONFIG, false, false, snmpConfig(1)}},
        {"d8-get-multi-ssid", {OP_GET_MULTI_SSID, false, true, multiSsid(1, false)}},
        {"100-firmware-http-v4", {OP_FIRMWARE_UPGRADE, false, false, transferStart(kServerHttp, false, "fw/image.bin")}},
        {"100-firmware-tftp-v6", {OP_FIRMWARE_UPGRADE, false, false, transferStart(kServerTftp, true, "image.bin")}},
        {"100-firmware-query", {OP_FIRMWARE_UPGRADE, false, false, transferQuery()}},
        {"101-backup-tftp-v4", {OP_CONFIG_BACKUP, false, false, transferStart(kServerTftp, false, "backup.cfg")}},
        {"101-backup-query", {OP_CONFIG_BACKUP, false, false, transferQuery()}},
        {"102-restore-http-v4", {OP_CONFIG_RESTORE, false, false, transferStart(kServerHttp, false, "saved.cfg")}},
        {"102-restore-tftp-v6", {OP_CONFIG_RESTORE, false, false, transferStart(kServerTftp, true, "a-b_c+d~.cfg")}},
        {"102-restore-query", {OP_CONFIG_RESTORE, false, false, transferQuery()}},
        {"103-reboot", {OP_REBOOT, false, false, {}}},
        {"99-not-supported", {0x0099, false, false, {}}},
    };
}

struct TextSeed {
    const char *target;
    const char *name;
    std::string_view text;
};

constexpr std::array<TextSeed, 15> kTextSeeds = {{
    {"numbers", "decimal", "1234"sv},
    {"numbers", "negative", "-42"sv},
    {"numbers", "hex", "0x7fffffff"sv},
    {"numbers", "too-big", "99999999999999999999999"sv},
    {"numbers", "trailing", "12ab"sv},
    {"base64", "admin", "YWRtaW4="sv},
    {"base64", "password", "dGFybmFkbWlu"sv},
    {"base64", "broken", "YW=Rt*aW4"sv},
    {"reserved_ip", "full", "192.0.2.50,255.255.255.0,192.0.2.1,"sv},
    {"reserved_ip", "no-gateway", "192.0.2.50,255.255.255.0,,"sv},
    {"reserved_ip", "bad", "192.0.2.500,255.255.255.0,"sv},
    {"trim", "default-set", "\x00  date line \t\r\n"sv},
    {"trim", "own-set", "\x02xy xyhelloyx"sv},
    {"trim", "all-trimmed", "\x00 \t \n"sv},
    {"trim", "empty", "\x00"sv},
}};

bool writeFile(const fs::path &path, const void *data, size_t size) {
    std::ofstream out(path, std::ios::binary);
    out.write(static_cast<const char *>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const fs::path root(argv[1]);
    bool ok = true;
    fs::create_directories(root / "request");
    for (const Seed &seed : requestSeeds()) {
        const std::vector<uint8_t> datagram = encode(seed.request);
        ok = writeFile(root / "request" / seed.name, datagram.data(), datagram.size()) && ok;
    }
    for (const TextSeed &seed : kTextSeeds) {
        fs::create_directories(root / seed.target);
        ok = writeFile(root / seed.target / seed.name, seed.text.data(), seed.text.size()) && ok;
    }
    return ok ? 0 : 1;
}
