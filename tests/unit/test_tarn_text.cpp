// Text in and out of the utility: addresses, JSON, tables, security names
// and the command line.
#include <gtest/gtest.h>

#include "addr.h"
#include "args.h"
#include "errors.h"
#include "output.h"
#include "security.h"

using namespace tarn;

struct MacCase {
    const char *text;
    std::optional<Mac> mac;
};

class TarnMac : public testing::TestWithParam<MacCase> {};

TEST_P(TarnMac, Parses) {
    EXPECT_EQ(parseMac(GetParam().text), GetParam().mac);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TarnMac,
    testing::Values(MacCase{"00:11:22:33:44:55", Mac{0, 0x11, 0x22, 0x33, 0x44, 0x55}},
                    MacCase{"02-00-00-00-00-0A", Mac{2, 0, 0, 0, 0, 0x0A}},
                    MacCase{"aB:cD:eF:01:23:45", Mac{0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45}},
                    MacCase{"00:11:22:33:44", std::nullopt},
                    MacCase{"00:11:22:33:44:55:66", std::nullopt},
                    MacCase{"00:11-22:33:44:55", std::nullopt},
                    MacCase{"00:11:22:33:44:5g", std::nullopt},
                    MacCase{"001122334455", std::nullopt},
                    MacCase{"192.0.2.1", std::nullopt}));

TEST(TarnAddr, FormatsAndParsesAddresses) {
    EXPECT_EQ(formatMac({0x02, 0, 0, 0, 0, 0xAB}), "02:00:00:00:00:ab");
    EXPECT_EQ(parseIpv4("192.0.2.11"), (Ipv4{192, 0, 2, 11}));
    EXPECT_FALSE(parseIpv4("192.0.2"));
    EXPECT_FALSE(parseIpv4(std::string(100, '1')));
    const std::optional<Ipv6> v6 = parseIpv6("2001:db8::1");
    ASSERT_TRUE(v6);
    EXPECT_EQ(formatIpv6(*v6), "2001:db8::1");
    EXPECT_FALSE(parseIpv6("192.0.2.1"));
}

struct JsonCase {
    std::string in;
    std::string out;
};

class TarnJson : public testing::TestWithParam<JsonCase> {};

TEST_P(TarnJson, Escapes) {
    EXPECT_EQ(jsonString(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TarnJson,
    testing::Values(JsonCase{"plain", "\"plain\""}, JsonCase{"a\"b\\c", "\"a\\\"b\\\\c\""},
                    JsonCase{"l1\nl2\t\r", "\"l1\\nl2\\t\\r\""},
                    JsonCase{std::string("\x01\x1f\x7f", 3), "\"\\u0001\\u001f\\u007f\""},
                    JsonCase{"caf\xc3\xa9 \xe2\x82\xac", "\"caf\xc3\xa9 \xe2\x82\xac\""},
                    JsonCase{"bad\xff", "\"bad\\ufffd\""},
                    JsonCase{"cut\xe2\x82", "\"cut\\ufffd\\ufffd\""},
                    JsonCase{"over\xc0\xaf", "\"over\\ufffd\\ufffd\""},
                    JsonCase{"surrogate\xed\xa0\x80", "\"surrogate\\ufffd\\ufffd\\ufffd\""}));

TEST(TarnOutput, RecordsAsJsonLinesAndTables) {
    const Record r{text("mac", "02:00:00:00:00:01"), number("vap", 3), boolean("dhcp", false),
                   null("ipv6"), decimal("rtt_ms", 1.25, 1)};
    EXPECT_EQ(toJson(r), "{\"mac\": \"02:00:00:00:00:01\", \"vap\": 3, \"dhcp\": false, "
                         "\"ipv6\": null, \"rtt_ms\": 1.2}");
    EXPECT_EQ(toJson(std::vector<Record>{}), "[]\n");
    EXPECT_EQ(toJson(std::vector<Record>{r, r}), "[\n  " + toJson(r) + ",\n  " + toJson(r) + "\n]\n");
    EXPECT_EQ(toLines({text("a", "x"), boolean("long", true), null("n")}),
              "a:    x\nlong: yes\nn:    -\n");
    EXPECT_EQ(toTable({{text("mac", "m1"), text("name", "first")}, {text("mac", "m22")}},
                      {{"mac", "MAC"}, {"name", "NAME"}}),
              "MAC  NAME\nm1   first\nm22  -\n");
}

TEST(TarnSecurity, NamesAndCodesMatchTheDevice) {
    struct Row {
        unsigned code;
        const char *name;
        const char *label;
        bool keyed;
    };
    const Row rows[] = {{1, "static-wep", "static-wep", true},
                        {2, "wpa-personal", "wpa-personal (WPA)", true},
                        {3, "wpa-enterprise", "wpa-enterprise (WPA)", false},
                        {4, "wpa2-personal", "wpa-personal (WPA2)", true},
                        {5, "wpa2-enterprise", "wpa-enterprise (WPA2)", false},
                        {6, "open", "open", false}};
    for (const Row &r : rows) {
        const SecurityMode *byCode = securityByCode(r.code);
        ASSERT_NE(byCode, nullptr) << r.code;
        EXPECT_EQ(byCode->name, r.name);
        EXPECT_EQ(byCode->label, r.label);
        EXPECT_EQ(byCode->keyed, r.keyed);
        EXPECT_EQ(securityByName(r.name), byCode);
        EXPECT_EQ(securityByName(std::string(1, static_cast<char>('0' + r.code))), byCode);
    }
    EXPECT_EQ(securityByCode(0), nullptr);
    EXPECT_EQ(securityByCode(7), nullptr);
    EXPECT_EQ(securityByName("wpa"), nullptr);
    EXPECT_EQ(securityByName("7"), nullptr);
    EXPECT_EQ(securityNames(),
              "static-wep, wpa-personal, wpa-enterprise, wpa2-personal, wpa2-enterprise, open");
}

TEST(TarnArgs, TakesOptionsAnywhereAndRejectsLeftovers) {
    Args a({"wlan", "--radio=5", "set", "--vap", "3", "--show-keys"});
    EXPECT_TRUE(a.flag("--show-keys"));
    EXPECT_EQ(a.value("--radio"), "5");
    EXPECT_EQ(a.value("--vap"), "3");
    EXPECT_EQ(a.positional(), "wlan");
    EXPECT_EQ(a.positional(), "set");
    EXPECT_NO_THROW(a.finish());

    Args left({"--bogus"});
    try {
        left.finish();
        FAIL() << "leftover accepted";
    } catch (const Error &e) {
        EXPECT_EQ(e.code(), kExitUsage);
        EXPECT_STREQ(e.what(), "unknown option \"--bogus\"; see --help.");
    }
    Args missing({"--ssid"});
    EXPECT_THROW(missing.value("--ssid"), UsageError);
    Args twice({"--vap", "1", "--vap", "2"});
    EXPECT_THROW(twice.value("--vap"), UsageError);
}

TEST(TarnArgs, NumbersWithinTheirRange) {
    EXPECT_EQ(parseInteger("4094", "--vlan", 1, 4094), 4094);
    EXPECT_THROW(parseInteger("4095", "--vlan", 1, 4094), UsageError);
    EXPECT_THROW(parseInteger("12x", "--vlan", 1, 4094), UsageError);
    EXPECT_DOUBLE_EQ(parseSeconds("0.5", "-t"), 0.5);
    EXPECT_THROW(parseSeconds("-1", "-t"), UsageError);
    EXPECT_THROW(parseSeconds("soon", "-t"), UsageError);
}
