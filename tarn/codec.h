// Requests as bytes and replies as data. Every offset comes from wire.h;
// nothing here does I/O, so all of it is checked byte for byte by tests.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model.h"
#include "wire.h"

namespace tarn {

using Bytes = std::vector<uint8_t>;

struct Credentials {
    std::string user;
    std::string password;
};

// Where an addressed request goes: the device accepts it only when both
// halves match its own management MAC and IPv4 address.
struct Address {
    Mac mac{};
    Ipv4 ip{};
};

// Base64 (RFC 4648, no line breaks) as the credential fields carry it.
std::string base64(std::string_view text);
// The longest text whose Base64 form fits a 64-byte credential field.
inline constexpr size_t kMaxCredentialText = 48;

// A whole request: header, the credential block when the operation carries
// one, and the body. `to` empty means a broadcast request.
Bytes encodeRequest(uint16_t op,
                    uint16_t tag,
                    const std::optional<Address> &to,
                    const Credentials &cred,
                    std::span<const uint8_t> body);

// ---- Request bodies ---------------------------------------------------------

Bytes basicInfoBody(const BasicInfo &info);
Bytes changeAdminBody(std::string_view user, std::string_view newPassword);
Bytes netAdvBody(const Ddns &ddns);
Bytes datetimeBody(const DateTime &dt);
Bytes vlanBody(uint32_t id);
Bytes snmpBody(bool on, std::string_view ro, std::string_view rw);
Bytes multiSsidGetBody(uint8_t radio);
Bytes multiSsidSetBody(uint8_t radio, const MultiSsid &networks);
Bytes transferStartBody(uint8_t serverType, const Server &server, std::string_view file);
Bytes transferQueryBody();

// ---- Reply bodies -----------------------------------------------------------

DeviceInfo parseDiscover(std::span<const uint8_t> body);
Announcement parseAnnouncement(std::span<const uint8_t> body);
Neighbor parseNeighbor(std::span<const uint8_t> body);
// The listed op codes, without the terminating 0.
std::vector<uint16_t> parseOpList(std::span<const uint8_t> body);
uint32_t parseResult(std::span<const uint8_t> body);
uint32_t parseUserVerify(std::span<const uint8_t> body);
Ddns parseNetAdv(std::span<const uint8_t> body);
NetStatus parseNetStatus(std::span<const uint8_t> body);
DateTime parseDatetime(std::span<const uint8_t> body);
MultiSsid parseMultiSsid(std::span<const uint8_t> body);
TransferStatus parseTransfer(std::span<const uint8_t> body);

// The announcement in a datagram on the request port, or nothing when the
// datagram is something else (a request of another utility, say).
std::optional<Announcement> decodeAnnouncement(std::span<const uint8_t> datagram);

// What the set operation must send to leave the device as discovery saw it.
BasicInfo basicInfoFrom(const DeviceInfo &info);

// A text read from a fixed-width field that fills the field may be the
// start of a longer value that the device cut to fit: never write it back.
bool mayBeCut(std::string_view value, size_t width);

}  // namespace tarn
