// Text in and out of the utility: addresses, JSON strings, security names
// and the command line.
#include <gtest/gtest.h>

#include "addr.h"
#include "args.h"
#include "errors.h"
#include "output.h"
#include "security.h"

using namespace tarn;

TEST(TarnText, Addresses) {
    EXPECT_EQ(parseMac("aB:cD:eF:01:23:45"), (Mac{0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45}));
    EXPECT_EQ(parseMac("02-00-00-00-00-0A"), (Mac{2, 0, 0, 0, 0, 0x0A}));
    for (const char *bad : {"00:11:22:33:44", "00:11:22:33:44:55:66", "00:11-22:33:44:55",
                            "00:11:22:33:44:5g", "001122334455", "192.0.2.1"})
        EXPECT_EQ(parseMac(bad), std::nullopt) << bad;
    EXPECT_EQ(formatMac({0x02, 0, 0, 0, 0, 0xAB}), "02:00:00:00:00:ab");
    EXPECT_FALSE(parseIpv4(std::string(100, '1')));
    EXPECT_FALSE(parseIpv6("192.0.2.1"));
}

TEST(TarnText, JsonStringsAreValidWhateverTheBytes) {
    const std::pair<std::string, std::string> cases[] = {
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"l1\nl2\t\r", "\"l1\\nl2\\t\\r\""},
        {std::string("\x01\x1f\x7f", 3), "\"\\u0001\\u001f\\u007f\""},
        {"caf\xc3\xa9 \xe2\x82\xac", "\"caf\xc3\xa9 \xe2\x82\xac\""},
        {"bad\xff", "\"bad\\ufffd\""},
        {"cut\xe2\x82", "\"cut\\ufffd\\ufffd\""},
        {"over\xc0\xaf", "\"over\\ufffd\\ufffd\""},
        {"surrogate\xed\xa0\x80", "\"surrogate\\ufffd\\ufffd\\ufffd\""}};
    for (const auto &[in, out] : cases)
        EXPECT_EQ(jsonString(in), out);
}

TEST(TarnText, SecurityNamesAndCodesMatchTheDevice) {
    const std::string_view rows[][2] = {
        {"static-wep", "static-wep"}, {"wpa-personal", "wpa-personal (WPA)"},
        {"wpa-enterprise", "wpa-enterprise (WPA)"}, {"wpa2-personal", "wpa-personal (WPA2)"},
        {"wpa2-enterprise", "wpa-enterprise (WPA2)"}, {"open", "open"}};
    for (unsigned code = 1; code <= 6; code++) {
        const SecurityMode *m = securityByCode(code);
        ASSERT_NE(m, nullptr) << code;
        EXPECT_EQ((std::tuple{m->name, m->label, m->keyed}),
                  (std::tuple{rows[code - 1][0], rows[code - 1][1], code == 1 || code == 2 || code == 4}));
        EXPECT_EQ(securityByName(rows[code - 1][0]), m);
        EXPECT_EQ(securityByName(std::to_string(code)), m);
    }
    EXPECT_EQ(securityByCode(0), nullptr);
    EXPECT_EQ(securityByCode(7), nullptr);
    EXPECT_EQ(securityByName("wpa"), nullptr);
    EXPECT_EQ(securityByName("7"), nullptr);
}

TEST(TarnText, CommandLineRefusals) {
    try {
        Args({"--bogus"}).finish();
        FAIL() << "leftover accepted";
    } catch (const Error &e) {
        EXPECT_EQ(e.code(), kExitUsage);
        EXPECT_STREQ(e.what(), "unknown option \"--bogus\"; see --help.");
    }
    EXPECT_THROW(Args({"--vap", "1", "--vap", "2"}).value("--vap"), UsageError);
    EXPECT_EQ(parseInteger("4094", "--vlan", 1, 4094), 4094);
    EXPECT_THROW(parseInteger("4095", "--vlan", 1, 4094), UsageError);
}
