#include "codec.h"

#include <openssl/evp.h>

#include <algorithm>

#include "ops.h"

namespace tarn {

namespace {

using wire::ConstBytes;

std::string loadString(ConstBytes buf, size_t off, size_t width) {
    return std::string(wire::load_text(buf, off, width));
}

void storeCredential(wire::Bytes msg, size_t off, std::string_view text) {
    wire::store_text(msg, off, wire::kCredFieldLen, base64(text));
}

}  // namespace

std::string base64(std::string_view text) {
    std::string out(4 * ((text.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out.data()),
                                  reinterpret_cast<const unsigned char *>(text.data()),
                                  static_cast<int>(text.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

Bytes encodeRequest(uint16_t op,
                    uint16_t tag,
                    const std::optional<Address> &to,
                    const Credentials &cred,
                    std::span<const uint8_t> body) {
    const bool withCred = carriesCredentials(op);
    const size_t bodyOff = withCred ? wire::kBodyOffAuth : wire::kBodyOffPlain;
    Bytes msg(bodyOff + body.size(), 0);

    wire::message_t h{};
    h.uMsgType = wire::kTypeRequest;
    h.uMsgTag = tag;
    h.uOP_Code = op;
    std::copy(to ? to->mac.begin() : wire::kBroadcastMac.begin(),
              to ? to->mac.end() : wire::kBroadcastMac.end(), h.ucMac);
    if (to)
        std::copy(to->ip.begin(), to->ip.end(), h.ucIp);
    h.uStatus = to ? wire::kAddrUnicast : wire::kAddrBroadcast;
    // The operation's body; the credential block is not counted.
    h.uBodyLen = static_cast<uint16_t>(body.size());
    wire::encode_header(h, msg);

    if (withCred) {
        storeCredential(msg, wire::kOffCredUser, cred.user);
        storeCredential(msg, wire::kOffCredPassword, cred.password);
    }
    wire::store_bytes(msg, bodyOff, body);
    return msg;
}

// ---- Request bodies ---------------------------------------------------------

Bytes basicInfoBody(const BasicInfo &info) {
    namespace f = wire::basic_info;
    Bytes b(f::kBodyLen, 0);
    wire::store_text(b, f::kSystemName, f::kSystemNameLen, info.name);
    wire::store_bytes(b, f::kIp, info.ip);
    wire::store_u8(b, f::kStaticDns, info.staticDns ? 1 : 0);
    wire::store_bytes(b, f::kMask, info.mask);
    wire::store_bytes(b, f::kGateway, info.gateway);
    wire::store_bytes(b, f::kDns1, info.dns1);
    wire::store_bytes(b, f::kDns2, info.dns2);
    wire::store_u8(b, f::kDhcp, info.dhcp ? 1 : 0);
    wire::store_bytes(b, f::kIpv6, info.ipv6);
    wire::store_u8(b, f::kIpv6Prefix, info.ipv6Prefix);
    wire::store_u8(b, f::kIpv6Auto, info.ipv6Auto ? 1 : 0);
    return b;
}

Bytes changeAdminBody(std::string_view user, std::string_view newPassword) {
    namespace f = wire::change_admin;
    Bytes b(f::kBodyLen, 0);
    wire::store_text(b, f::kUser, f::kFieldLen, base64(user));
    wire::store_text(b, f::kPassword, f::kFieldLen, base64(newPassword));
    return b;
}

Bytes netAdvBody(const Ddns &ddns) {
    namespace f = wire::net_adv;
    Bytes b(f::kBodyLen, 0);
    wire::store_u8(b, f::kDdnsEnable, ddns.enabled ? f::kFlagBit : 0);
    wire::store_u8(b, f::kDdnsOption, f::kOptionUnchanged);
    wire::store_text(b, f::kDdnsUser, f::kTextLen, ddns.user);
    wire::store_text(b, f::kDdnsPassword, f::kTextLen, ddns.password);
    wire::store_text(b, f::kDdnsDomain, f::kTextLen, ddns.domain);
    return b;
}

Bytes datetimeBody(const DateTime &dt) {
    namespace f = wire::datetime;
    Bytes b(f::kSetBodyLen, 0);
    wire::store_text(b, f::kDatetime, f::kDatetimeLen, dt.stamp);
    wire::store_u8(b, f::kTimeZone, dt.timeZone);
    wire::store_u8(b, f::kDaylightSaving, dt.daylightSaving);
    wire::store_u8(b, f::kNtp, dt.ntp ? 1 : 0);
    wire::store_text(b, f::kNtpServer, f::kNtpServerLen, dt.ntpServer);
    return b;
}

Bytes vlanBody(uint32_t id) {
    Bytes b(wire::vlan::kBodyLen, 0);
    wire::store_le32(b, wire::vlan::kVlanId, id);
    return b;
}

Bytes snmpBody(bool on, std::string_view ro, std::string_view rw) {
    namespace f = wire::snmp;
    Bytes b(f::kBodyLen, 0);
    wire::store_u8(b, f::kState, on ? 1 : 0);
    wire::store_text(b, f::kRoCommunity, f::kCommunityLen, ro);
    wire::store_text(b, f::kRwCommunity, f::kCommunityLen, rw);
    return b;
}

Bytes multiSsidGetBody(uint8_t radio) {
    return Bytes{radio};
}

Bytes multiSsidSetBody(uint8_t radio, const MultiSsid &networks) {
    namespace f = wire::multi_ssid;
    Bytes b(f::kSetBodyLen, 0);
    wire::store_u8(b, f::kRadio, radio);
    wire::store_u8(b, f::kRadioState, 1);
    for (size_t k = 0; k < f::kEntryCount; k++) {
        const SsidEntry &e = networks.entries[k];
        const size_t at = f::kSetEntries + k * f::kEntryLen;
        wire::store_text(b, at + f::kSsid, f::kSsidLen, e.ssid);
        wire::store_text(b, at + f::kVlanId, f::kVlanIdLen, e.vlan);
        wire::store_text(b, at + f::kSecurity, f::kSecurityLen, e.security);
        wire::store_text(b, at + f::kKey, f::kKeyLen, e.key);
    }
    return b;
}

Bytes transferStartBody(uint8_t serverType, const Server &server, std::string_view file) {
    namespace f = wire::transfer;
    Bytes b(server.ipv6 ? f::kBodyLenV6 : f::kBodyLenV4, 0);
    wire::store_u8(b, f::kSubService, f::SST_CONFIG);
    wire::store_u8(b, f::kServerType, serverType);
    wire::store_u8(b, f::kAddrType, server.ipv6 ? f::kAddrIpv6 : f::kAddrIpv4);
    if (server.ipv6)
        wire::store_bytes(b, f::kAddr, server.v6);
    else
        wire::store_bytes(b, f::kAddr, server.v4);
    // The device reads the name as terminated text: keep one zero byte.
    wire::store_text(b, server.ipv6 ? f::kFileV6 : f::kFileV4, f::kFileLen - 1, file);
    return b;
}

Bytes transferQueryBody() {
    return Bytes{wire::transfer::SST_QUERY};
}

// ---- Reply bodies -----------------------------------------------------------

DeviceInfo parseDiscover(std::span<const uint8_t> body) {
    namespace f = wire::discover;
    DeviceInfo d;
    d.product = loadString(body, f::kProductName, f::kProductNameLen);
    d.deviceType = loadString(body, f::kDeviceType, f::kDeviceTypeLen);
    d.model = loadString(body, f::kModel, f::kModelLen);
    d.firmware = loadString(body, f::kFwVersion, f::kFwVersionLen);
    d.mac = wire::load_array<6>(body, f::kMac);
    d.name = loadString(body, f::kSystemName, f::kSystemNameLen);
    d.ip = wire::load_array<4>(body, f::kIp);
    d.staticDns = wire::load_u8(body, f::kDnsMode) != 0;
    d.mask = wire::load_array<4>(body, f::kMask);
    d.gateway = wire::load_array<4>(body, f::kGateway);
    d.dns1 = wire::load_array<4>(body, f::kDns1);
    d.dns2 = wire::load_array<4>(body, f::kDns2);
    // 1 when the DHCP client is on; the device sends 0xFF for off.
    d.dhcp = wire::load_u8(body, f::kDhcp) == 1;
    d.datetime = loadString(body, f::kDatetime, f::kDatetimeLen);
    d.opMode = loadString(body, f::kOpMode, f::kOpModeLen);
    d.hwVersion = loadString(body, f::kHwVersion, f::kHwVersionLen);
    d.port = loadString(body, f::kPortName, f::kPortNameLen);
    d.ipv6 = wire::load_array<16>(body, f::kIpv6);
    d.ipv6Prefix = wire::load_u8(body, f::kIpv6Prefix);
    d.ipv6Gateway = wire::load_array<16>(body, f::kIpv6Gateway);
    d.ipv6Auto = wire::load_u8(body, f::kIpv6Auto) == 1;
    return d;
}

Announcement parseAnnouncement(std::span<const uint8_t> body) {
    namespace f = wire::announce;
    Announcement a;
    a.deviceType = loadString(body, f::kDeviceType, f::kDeviceTypeLen);
    a.opMode = loadString(body, f::kOpMode, f::kOpModeLen);
    a.firmware = loadString(body, f::kFwVersion, f::kFwVersionLen);
    a.mac = wire::load_array<6>(body, f::kMac);
    a.hwVersion = loadString(body, f::kHwVersion, f::kHwVersionLen);
    a.name = loadString(body, f::kSystemName, f::kSystemNameLen);
    a.ip = wire::load_array<4>(body, f::kIp);
    a.mask = wire::load_array<4>(body, f::kMask);
    a.port = loadString(body, f::kPortName, f::kPortNameLen);
    a.ipv6 = wire::load_array<16>(body, f::kIpv6);
    a.ipv6Prefix = wire::load_u8(body, f::kIpv6Prefix);
    return a;
}

Neighbor parseNeighbor(std::span<const uint8_t> body) {
    namespace f = wire::neighbor;
    Neighbor n;
    n.deviceType = loadString(body, f::kDeviceType, f::kDeviceTypeLen);
    n.opMode = loadString(body, f::kOpMode, f::kOpModeLen);
    n.firmware = loadString(body, f::kFwVersion, f::kFwVersionLen);
    n.mac = wire::load_array<6>(body, f::kMac);
    n.name = loadString(body, f::kSystemName, f::kSystemNameLen);
    n.ip = wire::load_array<4>(body, f::kIp);
    n.mask = wire::load_array<4>(body, f::kMask);
    n.ipv6 = wire::load_array<16>(body, f::kIpv6);
    n.port = loadString(body, f::kPortName, f::kPortNameLen);
    return n;
}

std::vector<uint16_t> parseOpList(std::span<const uint8_t> body) {
    std::vector<uint16_t> ops;
    for (size_t off = 0; off + 1 < body.size(); off += 2) {
        const uint16_t code = wire::load_le16(body, off);
        if (code == 0)
            break;
        ops.push_back(code);
    }
    return ops;
}

uint32_t parseResult(std::span<const uint8_t> body) {
    return wire::load_le32(body, wire::result::kCode);
}

uint32_t parseUserVerify(std::span<const uint8_t> body) {
    return wire::load_le32(body, 0);
}

Ddns parseNetAdv(std::span<const uint8_t> body) {
    namespace f = wire::net_adv;
    Ddns d;
    d.enabled = (wire::load_u8(body, f::kDdnsEnable) & f::kFlagBit) != 0;
    d.connected = (wire::load_u8(body, f::kDdnsStatus) & f::kFlagBit) != 0;
    d.user = loadString(body, f::kDdnsUser, f::kTextLen);
    d.password = loadString(body, f::kDdnsPassword, f::kTextLen);
    d.domain = loadString(body, f::kDdnsDomain, f::kTextLen);
    return d;
}

NetStatus parseNetStatus(std::span<const uint8_t> body) {
    namespace f = wire::net_status;
    NetStatus s;
    s.reported = body.size() >= f::kBodyLen;
    s.linkLocal = wire::load_le32(body, f::kLinkLocal) == 1;
    s.ip = wire::load_array<4>(body, f::kCurIp);
    return s;
}

DateTime parseDatetime(std::span<const uint8_t> body) {
    namespace f = wire::datetime;
    DateTime d;
    d.stamp = loadString(body, f::kDatetime, f::kDatetimeLen);
    d.timeZone = wire::load_u8(body, f::kTimeZone);
    d.daylightSaving = wire::load_u8(body, f::kDaylightSaving);
    d.ntp = wire::load_u8(body, f::kNtp) == 1;
    d.ntpServer = loadString(body, f::kNtpServer, f::kNtpServerLen);
    return d;
}

MultiSsid parseMultiSsid(std::span<const uint8_t> body) {
    namespace f = wire::multi_ssid;
    MultiSsid m;
    m.band = wire::load_u8(body, f::kReplyMode);
    for (size_t k = 0; k < f::kEntryCount; k++) {
        SsidEntry &e = m.entries[k];
        const size_t at = f::kReplyEntries + k * f::kEntryLen;
        e.ssid = loadString(body, at + f::kSsid, f::kSsidLen);
        e.vlan = loadString(body, at + f::kVlanId, f::kVlanIdLen);
        e.security = loadString(body, at + f::kSecurity, f::kSecurityLen);
        e.key = loadString(body, at + f::kKey, f::kKeyLen);
    }
    return m;
}

TransferStatus parseTransfer(std::span<const uint8_t> body) {
    namespace f = wire::transfer;
    TransferStatus t;
    t.subService = wire::load_u8(body, f::kSubService);
    t.result = wire::load_u8(body, f::kReplyResult);
    t.message = loadString(body, f::kReplyMessage, f::kReplyMessageLen);
    return t;
}

std::optional<Announcement> decodeAnnouncement(std::span<const uint8_t> datagram) {
    const wire::message_t h = wire::decode_header(datagram);
    if (datagram.size() < wire::kHeaderLen || h.uMsgType != wire::kTypeAnnounce ||
        h.uOP_Code != wire::OP_ANNOUNCE)
        return std::nullopt;
    return parseAnnouncement(datagram.subspan(wire::kHeaderLen));
}

BasicInfo basicInfoFrom(const DeviceInfo &info) {
    BasicInfo b;
    b.name = info.name;
    b.dhcp = info.dhcp;
    b.ip = info.ip;
    b.mask = info.mask;
    b.gateway = info.gateway;
    b.staticDns = info.staticDns;
    b.dns1 = info.dns1;
    b.dns2 = info.dns2;
    b.ipv6Auto = info.ipv6Auto;
    b.ipv6 = info.ipv6;
    b.ipv6Prefix = info.ipv6Prefix;
    return b;
}

bool mayBeCut(std::string_view value, size_t width) {
    return value.size() >= width;
}

}  // namespace tarn
