// The tarn management protocol on the wire: the 22-byte header, the
// credential block, the operation codes and the offsets of every request
// and reply body. The daemon, the management utility and the tools all
// build on this one file, so the format exists exactly once.
//
// Every integer of the protocol is little-endian and every address is a
// byte array in network order. Access points are often big-endian, so no
// structure is ever copied onto the wire: fields are loaded and stored one
// by one through the bounds-checked helpers below. A helper that would read
// past the end of its buffer reads zero bytes instead, which is exactly how
// the device treats a datagram shorter than the body an operation expects.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace wire {

using Bytes = std::span<uint8_t>;
using ConstBytes = std::span<const uint8_t>;

// ---- Transport -----------------------------------------------------------

inline constexpr uint16_t kRequestPort = 62976;  // device listens; announcements go here too
inline constexpr uint16_t kReplyPort = 62992;    // replies are broadcast here, never to the sender
inline constexpr size_t kMaxDatagram = 4096;

// ---- Header --------------------------------------------------------------

inline constexpr size_t kHeaderLen = 22;

inline constexpr uint16_t kTypeRequest = 0xFDFD;
inline constexpr uint16_t kTypeReply = 0xFEEE;
inline constexpr uint16_t kTypeAnnounce = 0xFFFF;

// uStatus of a request: how it is addressed.
inline constexpr uint16_t kAddrBroadcast = 0x0000;
inline constexpr uint16_t kAddrUnicast = 0x7777;
// What a broadcast request carries in place of a device's MAC; its IPv4
// address field is all zero.
inline constexpr std::array<uint8_t, 6> kBroadcastMac = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// uStatus of a reply.
inline constexpr uint16_t kStatusOk = 0;
inline constexpr uint16_t kStatusAuthFailed = 2;
inline constexpr uint16_t kStatusNotSupported = 3;

inline constexpr uint16_t kRetFlag = 2;  // uRetFlag of every reply and announcement

// The header in host representation. Decoded from and encoded to the wire
// field by field; the layout below happens to have no padding, which the
// static check makes sure of, but nothing relies on it for I/O.
struct message_t {
    uint16_t uMsgType;
    uint16_t uMsgTag;
    uint16_t uOP_Code;
    uint8_t ucMac[6];
    uint8_t ucIp[4];
    uint16_t uStatus;
    uint16_t uRetFlag;
    uint16_t uBodyLen;
};
static_assert(sizeof(message_t) == kHeaderLen, "message_t must stay 22 bytes");

// Header field offsets.
inline constexpr size_t kOffMsgType = 0;
inline constexpr size_t kOffMsgTag = 2;
inline constexpr size_t kOffOpCode = 4;
inline constexpr size_t kOffMac = 6;
inline constexpr size_t kOffIp = 12;
inline constexpr size_t kOffStatus = 16;
inline constexpr size_t kOffRetFlag = 18;
inline constexpr size_t kOffBodyLen = 20;

// ---- Credential block ----------------------------------------------------

// Operations that need credentials (operations.h) carry two Base64 text
// fields between the header and the body.
inline constexpr size_t kCredFieldLen = 64;
inline constexpr size_t kOffCredUser = 22;
inline constexpr size_t kOffCredPassword = 86;
inline constexpr size_t kCredBlockLen = 128;
inline constexpr size_t kBodyOffPlain = kHeaderLen;                 // 22
inline constexpr size_t kBodyOffAuth = kHeaderLen + kCredBlockLen;  // 150

// ---- Operation codes -----------------------------------------------------

enum OpCode : uint16_t {
    OP_ANNOUNCE = 0x00A0,
    OP_DISCOVER = 0x00A1,
    OP_SET_BASIC_INFO = 0x00A2,
    OP_USER_VERIFY = 0x00A3,
    OP_CHANGE_ADMIN = 0x00A4,
    OP_QUERY_SUPPORTED = 0x00A5,
    OP_GET_NET_ADV = 0x00A6,
    OP_SET_NET_ADV = 0x00A7,
    OP_FACTORY_RESET_KEEP_IP = 0x00AA,
    OP_FACTORY_RESET = 0x00AB,
    OP_GET_DATETIME = 0x00AC,
    OP_SET_DATETIME = 0x00AD,
    OP_COMMIT = 0x00C0,
    OP_QUERY_NET_STATUS = 0x00C9,
    OP_QUERY_NEIGHBOR = 0x00D0,
    OP_SET_MULTI_SSID = 0x00D1,
    OP_VLAN_CONFIG = 0x00D2,
    OP_SNMP_CONFIG = 0x00D4,
    OP_GET_MULTI_SSID = 0x00D8,
    OP_FIRMWARE_UPGRADE = 0x0100,
    OP_CONFIG_BACKUP = 0x0101,
    OP_CONFIG_RESTORE = 0x0102,
    OP_REBOOT = 0x0103,
};

// ---- Field helpers -------------------------------------------------------

uint16_t load_le16(ConstBytes buf, size_t off);
uint32_t load_le32(ConstBytes buf, size_t off);
uint8_t load_u8(ConstBytes buf, size_t off);
// Writes are dropped (not cut) when the field does not fit the buffer.
void store_le16(Bytes buf, size_t off, uint16_t value);
void store_le32(Bytes buf, size_t off, uint32_t value);
void store_u8(Bytes buf, size_t off, uint8_t value);

// A fixed-width text field: the text ends at its first zero byte or at the
// end of the field, whichever comes first. Bytes beyond the buffer read as
// zero, so the view may be shorter than the field.
std::string_view load_text(ConstBytes buf, size_t off, size_t width);
// The same text as a terminated C text in `out`, cut to out.size() - 1
// characters; for fields handed on to C interfaces. Nothing for an empty
// `out`.
void load_cstr(ConstBytes buf, size_t off, size_t width, std::span<char> out);
// Copies at most `width` bytes of `text` and zero-fills the rest of the
// field; a text as long as the field fills it without a terminator.
void store_text(Bytes buf, size_t off, size_t width, std::string_view text);

// Copies `dst.size()` bytes from `buf` at `off`, zero where `buf` ends.
void load_bytes(ConstBytes buf, size_t off, Bytes dst);
// The same into a fresh array of `N` bytes (an address, say).
template <size_t N>
std::array<uint8_t, N> load_array(ConstBytes buf, size_t off) {
    std::array<uint8_t, N> out{};
    load_bytes(buf, off, out);
    return out;
}
void store_bytes(Bytes buf, size_t off, ConstBytes src);

// The window of `width` bytes at `off`, or an empty span when it does not
// fit: accessors write into replies through such windows.
Bytes field(Bytes buf, size_t off, size_t width);

// ---- Header encode and decode --------------------------------------------

// Reads the first 22 bytes; a shorter buffer reads as zero-padded.
message_t decode_header(ConstBytes datagram);
// Writes the 22 header bytes in wire order. `out` must hold 22 bytes.
void encode_header(const message_t &hdr, Bytes out);

// ---- Body layouts (offsets from the first body byte) ---------------------

namespace announce {
inline constexpr size_t kBodyLen = 295;
inline constexpr size_t kDeviceType = 0, kDeviceTypeLen = 64;
inline constexpr size_t kOpMode = 64, kOpModeLen = 32;
inline constexpr size_t kFwVersion = 96, kFwVersionLen = 32;
inline constexpr size_t kMac = 128;
inline constexpr size_t kHwVersion = 134, kHwVersionLen = 32;
inline constexpr size_t kEmpty = 166, kEmptyLen = 32;
inline constexpr size_t kSystemName = 198, kSystemNameLen = 64;
inline constexpr size_t kIp = 262;
inline constexpr size_t kMask = 266;
inline constexpr size_t kPortName = 270, kPortNameLen = 8;
inline constexpr size_t kIpv6 = 278;
inline constexpr size_t kIpv6Prefix = 294;
}  // namespace announce

namespace discover {
inline constexpr size_t kBodyLen = 483;
inline constexpr size_t kProductName = 0, kProductNameLen = 64;
inline constexpr size_t kDeviceType = 64, kDeviceTypeLen = 64;
inline constexpr size_t kModel = 128, kModelLen = 32;
inline constexpr size_t kFwVersion = 160, kFwVersionLen = 32;
inline constexpr size_t kProtoVersion = 192;  // 16-bit, carries 2
inline constexpr size_t kEmpty4 = 194, kEmpty4Len = 4;
inline constexpr size_t kMac = 198;
inline constexpr size_t kSystemName = 204, kSystemNameLen = 64;
inline constexpr size_t kIp = 268;
inline constexpr size_t kWebPort = 272;  // 16-bit, the web interface's port, 80
inline constexpr size_t kDnsMode = 275;  // 0 = DNS from DHCP, 1 = static
inline constexpr size_t kMask = 276;
inline constexpr size_t kGateway = 280;
inline constexpr size_t kDns1 = 284;
inline constexpr size_t kDns2 = 288;
inline constexpr size_t kDhcp = 292;  // 1 = DHCP client on, 0xFF = off
inline constexpr size_t kDatetime = 293, kDatetimeLen = 16;
inline constexpr size_t kDaylightSaving = 311;
inline constexpr size_t kOpMode = 312, kOpModeLen = 32;
inline constexpr size_t kHwVersion = 344, kHwVersionLen = 32;
inline constexpr size_t kEmpty32 = 376, kEmpty32Len = 32;
inline constexpr size_t kPortName = 408, kPortNameLen = 8;
inline constexpr size_t kIpv6 = 416;
inline constexpr size_t kIpv6Prefix = 432;
inline constexpr size_t kIpv6Gateway = 433;
inline constexpr size_t kIpv6Auto = 481;
inline constexpr uint16_t kProtoVersionValue = 2;
inline constexpr uint16_t kWebPortValue = 80;
}  // namespace discover

namespace neighbor {
inline constexpr size_t kBodyLen = 231;
inline constexpr size_t kOne = 0;
inline constexpr size_t kDeviceType = 1, kDeviceTypeLen = 64;
inline constexpr size_t kOpMode = 65, kOpModeLen = 32;
inline constexpr size_t kFwVersion = 97, kFwVersionLen = 32;
inline constexpr size_t kMac = 129;
inline constexpr size_t kSystemName = 135, kSystemNameLen = 64;
inline constexpr size_t kIp = 199;
inline constexpr size_t kMask = 203;
inline constexpr size_t kIpv6 = 207;
inline constexpr size_t kPortName = 223, kPortNameLen = 8;
}  // namespace neighbor

// Reply of the operations that only acknowledge: a 32-bit result and 12
// zero bytes. The reboot reply has the same 16 bytes, all zero.
namespace result {
inline constexpr size_t kBodyLen = 16;
inline constexpr size_t kCode = 0;
}  // namespace result

namespace basic_info {
inline constexpr size_t kBodyLen = 155;
inline constexpr size_t kSystemName = 0, kSystemNameLen = 64;
inline constexpr size_t kIp = 64;
inline constexpr size_t kStaticDns = 71;
inline constexpr size_t kMask = 72;
inline constexpr size_t kGateway = 76;
inline constexpr size_t kDns1 = 80;
inline constexpr size_t kDns2 = 84;
inline constexpr size_t kDhcp = 88;
inline constexpr size_t kIpv6 = 89;
inline constexpr size_t kIpv6Prefix = 105;
inline constexpr size_t kIpv6Gateway = 106;
inline constexpr size_t kIpv6Auto = 154;
}  // namespace basic_info

namespace user_verify {
inline constexpr size_t kBodyLen = 4;
inline constexpr uint32_t kAdmin = 1, kNotAdmin = 2;
}  // namespace user_verify

namespace change_admin {
inline constexpr size_t kBodyLen = 128;
inline constexpr size_t kUser = 0, kPassword = 64, kFieldLen = 64;
inline constexpr uint32_t kResultNotAdmin = 1001;
inline constexpr uint32_t kResultBadChar = 1006;
// A new password holding any of these is refused with kResultBadChar: the
// device's tool cannot take them (they break its record format or the
// quoting of its command line).
inline constexpr std::string_view kForbiddenPasswordChars = "@:-/\\%\"'";
}  // namespace change_admin

namespace net_adv {
inline constexpr size_t kBodyLen = 525;
inline constexpr size_t kDdnsEnable = 129;
inline constexpr size_t kDdnsStatus = 130;
inline constexpr size_t kDdnsOption = 131;
inline constexpr size_t kDdnsUser = 132;
inline constexpr size_t kDdnsPassword = 196;
inline constexpr size_t kDdnsDomain = 260;
inline constexpr size_t kTextLen = 64;
inline constexpr size_t kExtraLen = 324;
inline constexpr size_t kExtra = 325, kExtraWidth = 200;
inline constexpr uint8_t kFlagBit = 2;  // the bit set in enable and status
inline constexpr uint8_t kOptionUnchanged = 255;
}  // namespace net_adv

namespace net_status {
inline constexpr size_t kBodyLen = 20;
inline constexpr size_t kLinkLocal = 0;  // 32-bit
inline constexpr size_t kCurIp = 4;
}  // namespace net_status

namespace datetime {
inline constexpr size_t kGetBodyLen = 100;
inline constexpr size_t kSetBodyLen = 84;
inline constexpr size_t kDatetime = 0, kDatetimeLen = 16;
inline constexpr size_t kTimeZone = 16;
inline constexpr size_t kReserved = 17;
inline constexpr size_t kDaylightSaving = 18;
inline constexpr size_t kNtp = 19;
inline constexpr size_t kNtpServer = 20, kNtpServerLen = 64;
}  // namespace datetime

namespace vlan {
inline constexpr size_t kBodyLen = 166;
inline constexpr size_t kLeadingText = 0, kLeadingTextLen = 32;
inline constexpr size_t kVlanId = 32;  // 32-bit
inline constexpr size_t kOpt1Flag = 36, kOpt1Text = 37;
inline constexpr size_t kOpt2Flag = 101, kOpt2Text = 102;
inline constexpr size_t kOptTextLen = 64;
inline constexpr uint32_t kResultRefused = 3;
}  // namespace vlan

namespace snmp {
inline constexpr size_t kBodyLen = 65;
inline constexpr size_t kState = 0;
inline constexpr size_t kRoCommunity = 1;
inline constexpr size_t kRwCommunity = 33;
inline constexpr size_t kCommunityLen = 32;
}  // namespace snmp

namespace multi_ssid {
inline constexpr size_t kEntryCount = 8;
inline constexpr size_t kEntryLen = 56;
inline constexpr size_t kSsid = 0, kSsidLen = 32;
inline constexpr size_t kVlanId = 32, kVlanIdLen = 4;
inline constexpr size_t kSecurity = 36, kSecurityLen = 4;
inline constexpr size_t kKey = 40, kKeyLen = 16;
inline constexpr size_t kReplyBodyLen = 451;
inline constexpr size_t kRadio = 0;         // get and set request
inline constexpr size_t kRadioState = 1;    // set request, not read by the device
inline constexpr size_t kSetEntries = 2;    // first entry in the set request
inline constexpr size_t kReplyMode = 2;     // radio mode code in the get reply
inline constexpr size_t kReplyEntries = 3;  // first entry in the get reply
inline constexpr size_t kSetBodyLen = kSetEntries + kEntryCount * kEntryLen;  // 450
}  // namespace multi_ssid

namespace transfer {
inline constexpr size_t kSubService = 0;
inline constexpr size_t kServerType = 1;
inline constexpr size_t kAddrType = 2;
inline constexpr size_t kAddr = 3;
inline constexpr size_t kFileV4 = 7;
inline constexpr size_t kFileV6 = 19;
inline constexpr size_t kFileLen = 128;
inline constexpr size_t kBodyLenV4 = 135, kBodyLenV6 = 147;
inline constexpr size_t kReplyBodyLen = 130;
inline constexpr size_t kReplyResult = 1;
inline constexpr size_t kReplyMessage = 2, kReplyMessageLen = 128;
inline constexpr uint8_t SST_CONFIG = 1, SST_QUERY = 2;
inline constexpr uint8_t kServerTftp = 1, kServerHttp = 2;
inline constexpr uint8_t kAddrIpv4 = 1, kAddrIpv6 = 2;
}  // namespace transfer

}  // namespace wire
