// The device's data as the utility handles it: decoded from replies and
// encoded into requests by codec.h.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "addr.h"

namespace tarn {

// The discovery reply: everything needed to address and describe a device.
struct DeviceInfo {
    std::string product;
    std::string deviceType;
    std::string model;
    std::string firmware;
    Mac mac{};
    std::string name;
    Ipv4 ip{};
    bool staticDns = false;
    Ipv4 mask{};
    Ipv4 gateway{};
    Ipv4 dns1{};
    Ipv4 dns2{};
    bool dhcp = false;
    std::string datetime;  // 14 digits, YYYYMMDDhhmmss
    std::string opMode;
    std::string hwVersion;
    std::string port;
    Ipv6 ipv6{};
    uint8_t ipv6Prefix = 0;
    Ipv6 ipv6Gateway{};
    bool ipv6Auto = false;
};

// The periodic announcement.
struct Announcement {
    std::string deviceType;
    std::string opMode;
    std::string firmware;
    Mac mac{};
    std::string hwVersion;
    std::string name;
    Ipv4 ip{};
    Ipv4 mask{};
    std::string port;
    Ipv6 ipv6{};
    uint8_t ipv6Prefix = 0;
};

struct Neighbor {
    std::string deviceType;
    std::string opMode;
    std::string firmware;
    Mac mac{};
    std::string name;
    Ipv4 ip{};
    Ipv4 mask{};
    Ipv6 ipv6{};
    std::string port;
};

// The request of the set operation; the device applies every field.
struct BasicInfo {
    std::string name;
    bool dhcp = false;
    Ipv4 ip{};
    Ipv4 mask{};
    Ipv4 gateway{};
    bool staticDns = false;
    Ipv4 dns1{};
    Ipv4 dns2{};
    bool ipv6Auto = false;
    Ipv6 ipv6{};
    uint8_t ipv6Prefix = 0;
};

struct Ddns {
    bool enabled = false;
    bool connected = false;
    std::string user;
    std::string password;
    std::string domain;
};

struct NetStatus {
    bool reported = false;  // false: the device sent the header alone
    bool linkLocal = false;
    Ipv4 ip{};
};

struct DateTime {
    std::string stamp;  // 14 digits, YYYYMMDDhhmmss
    uint8_t timeZone = 0;
    uint8_t daylightSaving = 0;
    bool ntp = false;
    std::string ntpServer;
};

// One wireless network, its fields as the texts they are on the wire.
struct SsidEntry {
    std::string ssid;
    std::string vlan;
    std::string security;  // decimal code "1".."6", empty when unknown
    std::string key;
};

inline constexpr size_t kVapCount = 8;

struct MultiSsid {
    uint8_t band = 0;  // 0: a 2.4 GHz mode, 1: a 5 GHz mode
    std::array<SsidEntry, kVapCount> entries;
};

struct TransferStatus {
    uint8_t subService = 0;
    uint8_t result = 0;
    std::string message;
};

// A transfer server, IPv4 or IPv6.
struct Server {
    bool ipv6 = false;
    Ipv4 v4{};
    Ipv6 v6{};
};

}  // namespace tarn
