#include "records.h"

#include <algorithm>
#include <cctype>

namespace tarn {

Field ipv6Field(std::string key, const Ipv6 &addr, std::optional<uint8_t> prefix) {
    if (allZero(addr))
        return null(std::move(key));
    return text(std::move(key),
                formatIpv6(addr) + (prefix ? "/" + std::to_string(*prefix) : std::string()));
}

std::string formatStamp(const std::string &stamp) {
    const bool digits = stamp.size() == 14 && std::all_of(stamp.begin(), stamp.end(), [](char c) {
                            return std::isdigit(static_cast<unsigned char>(c)) != 0;
                        });
    if (!digits)
        return stamp;
    return stamp.substr(0, 4) + "-" + stamp.substr(4, 2) + "-" + stamp.substr(6, 2) + " " +
           stamp.substr(8, 2) + ":" + stamp.substr(10, 2) + ":" + stamp.substr(12, 2);
}

Record deviceRecord(const Found &found) {
    const DeviceInfo &d = found.info;
    return {
        text("mac", formatMac(d.mac)),
        text("ipv4", formatIpv4(d.ip)),
        text("name", d.name),
        text("model", d.model),
        text("firmware", d.firmware),
        ipv6Field("ipv6", d.ipv6, d.ipv6Prefix),
        boolean("dhcp", d.dhcp),
        decimal("rtt_ms", found.rttMs, 1),
        text("interface", found.ifname),
        text("product", d.product),
        text("device_type", d.deviceType),
        text("hw_version", d.hwVersion),
        text("op_mode", d.opMode),
        text("port", d.port),
        text("mask", formatIpv4(d.mask)),
        text("gateway", formatIpv4(d.gateway)),
        text("dns_mode", d.staticDns ? "static" : "dhcp"),
        text("dns1", formatIpv4(d.dns1)),
        text("dns2", formatIpv4(d.dns2)),
        boolean("ipv6_auto", d.ipv6Auto),
        ipv6Field("ipv6_gateway", d.ipv6Gateway),
        text("datetime", formatStamp(d.datetime)),
    };
}

Record announcementRecord(const Announcement &a, const std::string &ifname) {
    return {
        text("mac", formatMac(a.mac)),
        text("ipv4", formatIpv4(a.ip)),
        text("name", a.name),
        text("firmware", a.firmware),
        text("mask", formatIpv4(a.mask)),
        ipv6Field("ipv6", a.ipv6, a.ipv6Prefix),
        text("device_type", a.deviceType),
        text("op_mode", a.opMode),
        text("hw_version", a.hwVersion),
        text("port", a.port),
        text("interface", ifname),
    };
}

Record announcementRecord(const Found &found) {
    const DeviceInfo &d = found.info;
    Announcement a;
    a.deviceType = d.deviceType;
    a.opMode = d.opMode;
    a.firmware = d.firmware;
    a.mac = d.mac;
    a.hwVersion = d.hwVersion;
    a.name = d.name;
    a.ip = d.ip;
    a.mask = d.mask;
    a.port = d.port;
    a.ipv6 = d.ipv6;
    a.ipv6Prefix = d.ipv6Prefix;
    return announcementRecord(a, found.ifname);
}

Record neighborRecord(const Neighbor &n, const std::string &ifname) {
    return {
        text("mac", formatMac(n.mac)),
        text("ipv4", formatIpv4(n.ip)),
        text("name", n.name),
        text("firmware", n.firmware),
        text("mask", formatIpv4(n.mask)),
        ipv6Field("ipv6", n.ipv6),
        text("device_type", n.deviceType),
        text("op_mode", n.opMode),
        text("port", n.port),
        text("interface", ifname),
    };
}

}  // namespace tarn
