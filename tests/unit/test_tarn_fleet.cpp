// Fleet plans without devices: what differs, what tarn refuses to send
// back, and an export that plans to nothing.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "fleet.h"
#include "refusal.h"

namespace tarn {
namespace {

DeviceState sampleState() {
    DeviceState st;
    st.found.info.mac = *parseMac("02:00:00:00:00:07");
    st.found.info.name = "ap7";
    st.found.info.ip = *parseIpv4("192.0.2.17");
    st.found.info.mask = *parseIpv4("255.255.255.0");
    st.found.info.gateway = *parseIpv4("192.0.2.1");
    st.found.info.ipv6Auto = true;
    st.time = DateTime{"20260101000000", 0, 1, true, "ntp.example.net"};
    // The office key fills the 16-byte key field.
    st.wlan[0] = MultiSsid{
        .entries = {{{"office", "1", "4", "sixteen-bytes-ok"}, {"guest", "1", "6", "stale"}}}};
    return st;
}

std::vector<std::string> fields(const DevicePlan &p) {
    std::vector<std::string> out;
    for (const Change &c : p.changes)
        out.push_back(c.field + (c.secret ? " (secret)" : ": " + c.from + " -> " + c.to));
    return out;
}

Manifest manifest(const std::string &device) {
    return parseManifest("devices:\n  \"02:00:00:00:00:07\": " + device + "\n", "f.yaml");
}

TEST(FleetPlan, ComparesOnlyWhatTheManifestNamesAndWritesTheRadioWhole) {
    const Manifest m = manifest(
        "{name: ap7, wlan: {\"2.4\": {0: {key: \"plain:sixteen-bytes-ok\"}, 1: {ssid: visitors, "
        "vlan: 20, security: wpa2-personal, key: \"plain:welcome2024\"}}}, management_vlan: 5}");
    const DevicePlan p = planDevice(m.devices[0], sampleState(), false);
    ASSERT_EQ(p.notes.size(), 2u);
    EXPECT_NE(p.notes[0].find("wlan 2.4/0 key fills the device's 16-byte field"),
              std::string::npos);
    EXPECT_NE(p.notes[1].find("management_vlan and snmp are not compared"), std::string::npos);
    EXPECT_EQ(p.wlan[0].entries[0].key, "sixteen-bytes-ok");
    EXPECT_FALSE(p.touches(Group::Basic));

    const DevicePlan sent = planDevice(m.devices[0], sampleState(), true);
    EXPECT_EQ(std::tuple(fields(sent).back(), sent.managementVlan),
              std::tuple("management_vlan: (cannot be read) -> 5", 5u));
}

TEST(FleetPlan, RefusesWhatItWouldSendBackCutAndValuesTheDeviceShouldNotGet) {
    const std::pair<const char *, const char *> cases[] = {
        // Writing the radio would send network 0's key back as read.
        {"{wlan: {\"2.4\": {1: {ssid: visitors}}}}",
         "f.yaml:2: 02:00:00:00:00:07: the key of wlan 2.4/0 fills its 16-byte field, so it may "
         "have been cut, and tarn does not write back a value it may have read cut; give it in "
         "the manifest."},
        {"{wlan: {\"2.4\": {1: {security: wpa2-personal}}}}",
         "f.yaml:2: 02:00:00:00:00:07: wlan 2.4/1 becomes wpa2-personal, which needs a key; give "
         "it as key: in the manifest."},
        {"{wlan: {\"2.4\": {0: {key: \"plain:short\"}}}}",
         "f.yaml:2: 02:00:00:00:00:07: wlan 2.4/0: a WPA passphrase has at least 8 characters and "
         "the device's key field holds 16, so it takes 8 to 16 characters here, not 5."},
        {"{address: {ip: 192.0.2.17, mask: 255.255.255.0, gateway: 198.51.100.1}}",
         "f.yaml:2: 02:00:00:00:00:07: the gateway 198.51.100.1 is outside the subnet of "
         "192.0.2.17 with mask 255.255.255.0."},
    };
    for (const auto &[device, message] : cases)
        EXPECT_EQ(refusal([&] { planDevice(manifest(device).devices[0], sampleState(), false); }),
                  message);
}

TEST(FleetPlan, AnExportPlansToNothing) {
    DeviceState st = sampleState();
    st.wlan[0]->entries[0].key = "officekey";
    st.wlan[1] = st.wlan[0];
    st.ddns = Ddns{true, false, "site7", "ddns-pass", "site7.example.net"};
    std::vector<std::pair<std::string, std::string>> secrets;
    const std::string text = exportManifest({st}, secrets);
    EXPECT_EQ(secrets, (std::vector<std::pair<std::string, std::string>>{
                           {"TARN_DDNS_SITE7", "ddns-pass"}, {"TARN_WLAN_OFFICE", "officekey"}}));
    for (const auto &[name, value] : secrets)
        setenv(name.c_str(), value.c_str(), 1);
    const Manifest m = parseManifest(text, "export.yaml");
    const DevicePlan p = planDevice(m.devices[0], st, false);
    EXPECT_EQ(fields(p), std::vector<std::string>{}) << text;
    EXPECT_TRUE(m.devices[0].dhcp.has_value());
    EXPECT_EQ(m.devices[0].wlan[1].size(), 2u);
}

}  // namespace
}  // namespace tarn
