// Writes the fuzzers' seed corpus: a valid request for each of the 22
// operations (and the variants that take different paths: broadcast and
// addressed, IPv4 and IPv6 servers, TFTP and HTTP, start and query), plus
// small texts for the parser targets. Usage: make_seeds OUTDIR
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <vector>

#include "codec.h"

namespace fs = std::filesystem;
using namespace std::string_view_literals;

namespace {

// The requests are made by the utility's own encoder (tarn_lib), so the
// seeds are exactly what the utility sends; it also decides which
// operations carry the credential block.
constexpr uint16_t kTag = 0x1234;
// The sandbox's first access point, as the factory defaults describe it.
constexpr tarn::Address kOwnAp{{0x02, 0, 0, 0, 0, 0x01}, {192, 0, 2, 11}};
const tarn::Credentials kAdmin{"admin", "tarnadmin"};

struct Request {
    uint16_t op;
    bool broadcast;
    tarn::Bytes body;
};

tarn::Bytes encode(const Request &r) {
    const std::optional<tarn::Address> to =
        r.broadcast ? std::nullopt : std::optional<tarn::Address>(kOwnAp);
    return tarn::encodeRequest(r.op, kTag, to, kAdmin, r.body);
}

const tarn::BasicInfo kBasicInfo{
    .name = "ap-one",
    .ip = {192, 0, 2, 50},
    .mask = {255, 255, 255, 0},
    .gateway = {192, 0, 2, 1},
    .staticDns = true,
    .dns1 = {192, 0, 2, 53},
    .ipv6 = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x05},
    .ipv6Prefix = 64};
const tarn::Ddns kDdns{.enabled = true,
                       .user = "ddns-user",
                       .password = "ddns-pass",
                       .domain = "ap.example.net"};
const tarn::DateTime kDateTime{.stamp = "20240102030405",
                               .timeZone = 8,
                               .ntp = true,
                               .ntpServer = "ntp.example.net"};

// The main network with WPA2 personal and a guest network without security.
const tarn::MultiSsid kNetworks{.entries = {{{"tarn-main", "10", "4", "secret-key-1234"},
                                             {"tarn-guest", "11", "6", "secret-key-1234"}}}};

Request transfer(uint16_t op, uint8_t server, bool ipv6, std::string_view file) {
    const tarn::Server s{.ipv6 = ipv6,
                         .v4 = {192, 0, 2, 1},
                         .v6 = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01}};
    return {op, false, tarn::transferStartBody(server, s, file)};
}

struct Seed {
    const char *name;
    Request request;
};

std::vector<Seed> requestSeeds() {
    using namespace wire;
    using namespace wire::transfer;
    return {
        {"a1-discover", {OP_DISCOVER, true, {}}},
        {"a1-discover-addressed", {OP_DISCOVER, false, {}}},
        {"a2-set-basic-info", {OP_SET_BASIC_INFO, false, tarn::basicInfoBody(kBasicInfo)}},
        {"a3-user-verify", {OP_USER_VERIFY, false, {}}},
        {"a4-change-admin", {OP_CHANGE_ADMIN, false, tarn::changeAdminBody("admin", "new$pass`1")}},
        {"a5-query-supported", {OP_QUERY_SUPPORTED, true, {}}},
        {"a6-get-net-adv", {OP_GET_NET_ADV, false, {}}},
        {"a7-set-net-adv", {OP_SET_NET_ADV, false, tarn::netAdvBody(kDdns)}},
        {"aa-factory-reset-keep-ip", {OP_FACTORY_RESET_KEEP_IP, false, {}}},
        {"ab-factory-reset", {OP_FACTORY_RESET, false, {}}},
        {"ac-get-datetime", {OP_GET_DATETIME, false, {}}},
        {"ad-set-datetime", {OP_SET_DATETIME, false, tarn::datetimeBody(kDateTime)}},
        {"c0-commit", {OP_COMMIT, false, {}}},
        {"c9-net-status", {OP_QUERY_NET_STATUS, false, {}}},
        {"d0-neighbor", {OP_QUERY_NEIGHBOR, true, {}}},
        {"d1-set-multi-ssid", {OP_SET_MULTI_SSID, false, tarn::multiSsidSetBody(0, kNetworks)}},
        {"d2-vlan", {OP_VLAN_CONFIG, false, tarn::vlanBody(20)}},
        {"d4-snmp", {OP_SNMP_CONFIG, false, tarn::snmpBody(true, "public", "private")}},
        {"d8-get-multi-ssid", {OP_GET_MULTI_SSID, false, tarn::multiSsidGetBody(1)}},
        {"100-firmware-http-v4", transfer(OP_FIRMWARE_UPGRADE, kServerHttp, false, "fw/image.bin")},
        {"100-firmware-tftp-v6", transfer(OP_FIRMWARE_UPGRADE, kServerTftp, true, "image.bin")},
        {"100-firmware-query", {OP_FIRMWARE_UPGRADE, false, tarn::transferQueryBody()}},
        {"101-backup-tftp-v4", transfer(OP_CONFIG_BACKUP, kServerTftp, false, "backup.cfg")},
        {"101-backup-query", {OP_CONFIG_BACKUP, false, tarn::transferQueryBody()}},
        {"102-restore-http-v4", transfer(OP_CONFIG_RESTORE, kServerHttp, false, "saved.cfg")},
        {"102-restore-tftp-v6", transfer(OP_CONFIG_RESTORE, kServerTftp, true, "a-b_c+d~.cfg")},
        {"102-restore-query", {OP_CONFIG_RESTORE, false, tarn::transferQueryBody()}},
        {"103-reboot", {OP_REBOOT, false, {}}},
        {"99-not-supported", {0x0099, false, {}}},
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
        const tarn::Bytes datagram = encode(seed.request);
        ok = writeFile(root / "request" / seed.name, datagram.data(), datagram.size()) && ok;
    }
    for (const TextSeed &seed : kTextSeeds) {
        fs::create_directories(root / seed.target);
        ok = writeFile(root / seed.target / seed.name, seed.text.data(), seed.text.size()) && ok;
    }
    return ok ? 0 : 1;
}
