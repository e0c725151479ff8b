// The fleet manifest: the desired settings of many devices in one YAML
// file, keyed by MAC, with a defaults block merged under each device.
// Reading checks the form (types, names, addresses); whether the values are
// wise (a short key, an open network) is for the checks that use them.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "addr.h"

namespace tarn {

// Where a value stands in the manifest, for messages: "fleet.yaml:12".
struct Location {
    std::string file;
    int line = 0;  // 1-based; 0 when unknown
    std::string text() const;
};

// A key, password or community. Never inline by accident: the manifest
// names an environment variable or a file, or says "plain:" outright.
struct Secret {
    enum class Form { Env, File, Plain };
    Form form = Form::Env;
    std::string ref;  // the variable's name, the file's path or the text itself
    Location where;

    // "env:NAME", "file:PATH" or "plain:TEXT" as written.
    std::string text() const;
    // The value: the variable, the file's first line or the text. Throws
    // UsageError naming the manifest line when the variable is unset or the
    // file cannot be read.
    std::string resolve() const;
};

// One wireless network of a radio.
struct ManifestNetwork {
    std::optional<std::string> ssid;
    std::optional<long> vlan;
    std::optional<std::string> security;  // a name of tarn/security.h
    std::optional<Secret> key;
    Location where;
};

inline constexpr std::array<const char *, 2> kManifestRadios{"2.4", "5"};

struct ManifestTime {
    std::optional<long> zone;  // hours from UTC
    std::optional<bool> dst;
    // An NTP server, or "" for NTP off.
    std::optional<std::string> ntp;
};

struct ManifestSnmp {
    std::optional<bool> enabled;
    std::optional<Secret> readCommunity;
    std::optional<Secret> writeCommunity;
};

struct ManifestDdns {
    std::optional<std::string> user;
    std::optional<Secret> password;
    std::optional<std::string> domain;
};

// Every field is optional: what the manifest leaves out stays as it is.
struct ManifestDevice {
    Mac mac{};
    Location where;
    std::optional<std::string> name;
    // address: dhcp, or a static address with mask and gateway.
    std::optional<bool> dhcp;
    std::optional<Ipv4> ip, mask, gateway;
    // dns: dhcp (an empty list), or one or two servers.
    std::optional<std::vector<Ipv4>> dns;
    // ipv6: auto, or an address with its prefix length.
    std::optional<bool> ipv6Auto;
    std::optional<std::pair<Ipv6, uint8_t>> ipv6;
    std::optional<ManifestTime> time;
    std::optional<long> managementVlan;
    std::optional<ManifestSnmp> snmp;
    std::optional<ManifestDdns> ddns;
    // By radio index (0: 2.4 GHz, 1: 5 GHz), then by network number 0..7.
    std::array<std::map<size_t, ManifestNetwork>, kManifestRadios.size()> wlan;
};

struct Manifest {
    std::string path;
    std::vector<ManifestDevice> devices;  // in the file's order

    const ManifestDevice *find(const Mac &mac) const;
};

// Reads and checks a manifest; throws UsageError with "FILE:LINE: field:
// reason." for anything it cannot take.
Manifest readManifest(const std::string &path);
// The same from text, `path` naming it in messages.
Manifest parseManifest(const std::string &text, const std::string &path);

}  // namespace tarn
