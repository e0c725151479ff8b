// The fleet manifest reader: defaults merged under devices, the three forms
// of a secret, and errors that name the file, the line and the field.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>

#include "manifest.h"
#include "refusal.h"

namespace tarn {
namespace {

constexpr const char *kFleet = R"(version: 1
defaults:
  dns: [192.0.2.53]
  address: {mask: 255.255.255.0, gateway: 192.0.2.1}
  wlan:
    "2.4":
      1: {ssid: visitors, security: wpa2-personal, key: env:GUEST_KEY}
devices:
  "02:00:00:00:00:01":
    name: lobby
    address: {ip: 192.0.2.11}
    wlan:
      "2.4":
        1: {ssid: lobby-guests}
        2: {vlan: 20, key: "file:keys/two"}
  02-00-00-00-00-02:
    address: dhcp
    dns: dhcp
    ipv6: 2001:db8::12/64
    time: {zone: -5, dst: on, ntp: off}
    snmp: {enabled: false, read_community: "plain:public", write_community: env:RW}
)";

TEST(Manifest, DefaultsMergeUnderEachDeviceMapByMap) {
    const Manifest m = parseManifest(kFleet, "fleet.yaml");
    ASSERT_EQ(m.devices.size(), 2u);
    const ManifestDevice &lobby = m.devices[0];
    // The gateway and DNS come from the defaults.
    EXPECT_EQ((std::tuple{formatMac(lobby.mac), lobby.where.line, *lobby.name, *lobby.dhcp,
                          formatIpv4(*lobby.ip), formatIpv4(*lobby.gateway), lobby.dns->size()}),
              (std::tuple{"02:00:00:00:00:01", 9, "lobby", false, "192.0.2.11", "192.0.2.1", 1u}));
    // The device's own SSID wins; the key keeps the defaults' line.
    const ManifestNetwork &guest = lobby.wlan[0].at(1);
    EXPECT_EQ((std::tuple{*guest.ssid, *guest.security, guest.key->text(), guest.key->where.line}),
              (std::tuple{"lobby-guests", "wpa2-personal", "env:GUEST_KEY", 7}));
    EXPECT_EQ(
        (std::tuple{lobby.wlan[0].at(2).vlan, lobby.wlan[0].at(2).ssid, lobby.wlan[1].size()}),
        (std::tuple{20, std::nullopt, 0u}));

    const ManifestDevice &second = m.devices[1];
    // A scalar replaces the defaults' map.
    EXPECT_EQ((std::tuple{*second.dhcp, second.ip.has_value(), second.dns->size(),
                          second.ipv6->second, *second.time->zone, *second.time->dst,
                          *second.time->ntp, *second.wlan[0].at(1).ssid}),
              (std::tuple{true, false, 0u, 64, -5, true, "", "visitors"}));
    EXPECT_EQ(second.snmp->readCommunity->form, Secret::Form::Plain);
    EXPECT_EQ(m.find(second.mac), &second);
}

TEST(Manifest, SecretsResolveAtUseFromTheirForm) {
    const std::string dir = testing::TempDir() + "manifest-secrets";
    ASSERT_EQ(system(("mkdir -p " + dir + "/keys").c_str()), 0);
    std::ofstream(dir + "/keys/two") << "from-a-file\nsecond line\n";
    const Manifest m = parseManifest(kFleet, dir + "/fleet.yaml");
    const ManifestDevice &lobby = m.devices[0];
    // A relative file is found beside the manifest.
    EXPECT_EQ(lobby.wlan[0].at(2).key->resolve(), "from-a-file");
    EXPECT_EQ(m.devices[1].snmp->readCommunity->resolve(), "public");
    setenv("GUEST_KEY", "welcome2024", 1);
    EXPECT_EQ(lobby.wlan[0].at(1).key->resolve(), "welcome2024");
    unsetenv("GUEST_KEY");
    EXPECT_EQ(refusal([&] { lobby.wlan[0].at(1).key->resolve(); }),
              dir +
                  "/fleet.yaml:7: the environment variable GUEST_KEY is not set, and the "
                  "manifest takes a secret from it.");
}

TEST(Manifest, ErrorsNameFileLineAndField) {
    const std::pair<const char *, const char *> cases[] = {
        {"devices:\n  \"02:00:00:00:00:01\":\n    wlan: {\"2.4\": {1: {key: welcome2024}}}\n",
         "f.yaml:3: wlan 2.4/1 key: a secret is written env:NAME, file:PATH or plain:TEXT, so "
         "that no key is written in the clear by accident."},
        {"devices:\n  \"02:00:00:00:00:01\":\n    nmae: lobby\n",
         "f.yaml:3: nmae: is not a setting here; the settings are name, address, dns, ipv6, time, "
         "management_vlan, snmp, ddns, wlan."},
        {"defaults:\n  address: {ip: 192.0.2.300, mask: 255.255.255.0}\ndevices:\n  "
         "\"02:00:00:00:00:01\":\n",
         "f.yaml:2: address ip: takes an IPv4 address, not \"192.0.2.300\"."},
        {"devices:\n  \"02:00:00:00:00:01\": {wlan: {\"5\": {8: {ssid: x}}}}\n",
         "f.yaml:2: wlan 5/8: names no network; they are numbered 0 to 7."},
        {"devices:\n  \"02:00:00:00:00:01\": {wlan: {\"2.4\": {0: {security: wpa3}}}}\n",
         "f.yaml:2: wlan 2.4/0 security: takes one of static-wep, wpa-personal, wpa-enterprise, "
         "wpa2-personal, wpa2-enterprise, open, not \"wpa3\"."},
        {"devices:\n  \"02:00:00:00:00:01\": {}\n  \"02:00:00:00:00:01\": {}\n",
         "f.yaml:3: devices: 02:00:00:00:00:01 is named twice (also on line 2)."},
        {"devices:\n  lobby: {}\n", "f.yaml:2: devices: \"lobby\" is not a MAC address."},
        {"devices:\n  \"02:00:00:00:00:01\": {}\ndevices:\n  \"02:00:00:00:00:02\": {}\n",
         "f.yaml:3: devices: is given twice (also on line 1)."},
        {"defaults: {name: hall}\ndevices:\n  \"02:00:00:00:00:01\":\n    name: a\n    name: b\n",
         "f.yaml:5: name: is given twice (also on line 4)."},
        {"devices:\n  \"02:00:00:00:00:01\":\n    wlan:\n      \"2.4\": {0: {ssid: a}}\n"
         "      \"2.4\": {1: {ssid: b}}\n",
         "f.yaml:5: wlan 2.4: is given twice (also on line 4)."},
        {"devices:\n  \"02:00:00:00:00:01\": {wlan: {\"5\": {0: {ssid: a}, 0: {ssid: b}}}}\n",
         "f.yaml:2: wlan 5/0: is given twice (also on line 2)."},
        {"devices: [\n", "f.yaml:2: end of sequence flow not found."},
    };
    for (const auto &[text, message] : cases)
        EXPECT_EQ(refusal([&] { parseManifest(text, "f.yaml"); }), message);
}

}  // namespace
}  // namespace tarn
