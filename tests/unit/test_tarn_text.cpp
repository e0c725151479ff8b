// Text in and out of the utility: addresses, JSON strings, security names, the command line.
#include <gtest/gtest.h>

#include "addr.h"
#include "args.h"
#include "errors.h"
#include "output.h"
#include "security.h"

using namespace tarn;

TEST(TarnText, Addresses) {
    EXPECT_EQ(parseMac("aB-cD-eF-01-23-45"), (Mac{0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45}));
    for (const char *bad : {"00:11:22:33:44", "00:11:22:33:44:55:66", "00:11-22:33:44:55",
                            "00:11:22:33:44:5g", "001122334455", "192.0.2.1"})
        EXPECT_EQ(parseMac(bad), std::nullopt) << bad;
    EXPECT_FALSE(parseIpv4(std::string(100, '1')));
    EXPECT_FALSE(parseIpv6("192.0.2.1"));
}

TEST(TarnText, JsonStringsAreValidWhateverTheBytes) {
    const std::pair<std::string, std::string> cases[] = {
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
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
    const std::pair<const char *, unsigned> modes[] = {{"static-wep", 1}, {"wpa-personal", 2}, {"wpa-enterprise", 3},
                                                       {"wpa2-personal", 4}, {"wpa2-enterprise", 5}, {"open", 6}};
    for (const auto &[name, code] : modes) {
        ASSERT_NE(securityByCode(code), nullptr) << name;
        EXPECT_EQ(securityByName(name), securityByCode(code)) << name;
        EXPECT_EQ(securityByName(std::to_string(code)), securityByCode(code)) << name;
    }
    EXPECT_EQ(securityByCode(4)->label, "wpa-personal (WPA2)");
    EXPECT_TRUE(securityByCode(1)->keyed && securityByCode(4)->keyed && !securityByCode(5)->keyed);
    for (const char *bad : {"0", "7", "wpa"})
        EXPECT_EQ(securityByName(bad), nullptr) << bad;
}

TEST(TarnText, CommandLineRefusals) {
    EXPECT_THROW(Args({"--bogus"}).finish(), UsageError);
    EXPECT_THROW(Args({"--vap", "1", "--vap", "2"}).value("--vap"), UsageError);
    EXPECT_EQ(parseInteger("4094", "--vlan", 1, 4094), 4094);
    EXPECT_THROW(parseInteger("4095", "--vlan", 1, 4094), UsageError);
}

TEST(TarnText, SecondsAreCappedAndNeverOverflowTheClock) {
    EXPECT_EQ(parseSeconds("31622400", "-t"), kLongestSeconds);
    for (const char *tooLong : {"31622401", "9e9", "1e10", "1e300"})
        EXPECT_THROW(parseSeconds(tooLong, "--lost-after"), UsageError) << tooLong;
    EXPECT_THROW(parseSeconds("-1", "-t"), UsageError);
    // The conversion saturates for values that bypass the parser.
    EXPECT_EQ(secondsDuration(1e300), secondsDuration(kLongestSeconds));
    EXPECT_EQ(secondsDuration(-5), std::chrono::steady_clock::duration::zero());
    EXPECT_EQ(secondsDuration(1.5), std::chrono::milliseconds(1500));
    const auto now = std::chrono::steady_clock::now();
    EXPECT_GT(deadlineIn(1e300), now + std::chrono::hours(24 * 365));
}
