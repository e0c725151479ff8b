// The configuration file of backups: checksum, corruption, and which
// settings a backup carries.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "cfgfile.h"

namespace {

const std::string kBody =
    "system\t-\t-\tsystem-name\tap-one\n"
    "interface\twlan0vap1\t-\tssid\tguest\n"
    "vap\tvap5\tradio=wlan1\tvlan-id\t12\n";

TEST(ConfigFile, BuildsHeaderChecksumAndBody) {
    // The digest was computed independently: printf '...' | sha256sum
    EXPECT_EQ(cfgfile::build(kBody),
              "TARN-CONFIG 1\n"
              "SHA256 ac7719d5c58fd31613162c9bb4c5306a848663560dcd4c598f023171a1eb230f\n" +
                  kBody);
}

TEST(ConfigFile, IntactFilePassesAndYieldsItsBody) {
    const std::string file = *cfgfile::build(kBody);
    std::string_view body;
    EXPECT_EQ(cfgfile::check(file, body), cfgfile::ConfigError::None);
    EXPECT_EQ(body, kBody);
}

struct Damage {
    const char *what;
    size_t offset;  // byte changed (npos: cut the file to `cut` bytes instead)
    size_t cut;
    cfgfile::ConfigError expected;
};

class DamagedFiles : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedFiles, AreRefused) {
    std::string file = *cfgfile::build(kBody);
    const Damage &d = GetParam();
    if (d.offset == std::string::npos) {
        file.resize(d.cut);
    } else {
        file[d.offset] = static_cast<char>(file[d.offset] ^ 0x01);
    }
    std::string_view body = "untouched";
    EXPECT_EQ(cfgfile::check(file, body), d.expected) << d.what;
    EXPECT_EQ(body, "untouched");
}

constexpr size_t kBodyStart = 14 + 7 + 64 + 1;

INSTANTIATE_TEST_SUITE_P(
    Table, DamagedFiles,
    ::testing::Values(
        Damage{"header", 0, 0, cfgfile::ConfigError::BadHeader},
        Damage{"header version", 12, 0, cfgfile::ConfigError::BadHeader},
        Damage{"checksum tag", 14, 0, cfgfile::ConfigError::BadDigestLine},
        Damage{"checksum digit", 30, 0, cfgfile::ConfigError::BadChecksum},
        Damage{"body byte", kBodyStart + 3, 0, cfgfile::ConfigError::BadChecksum},
        Damage{"empty file", std::string::npos, 0, cfgfile::ConfigError::BadHeader},
        Damage{"checksum line cut", std::string::npos, 40, cfgfile::ConfigError::BadDigestLine},
        Damage{"body cut", std::string::npos, kBodyStart + 10, cfgfile::ConfigError::BadChecksum}));

TEST(ConfigFile, ChecksumLineMustHaveSixtyFourDigits) {
    std::string file = *cfgfile::build(kBody);
    file.erase(20, 1);
    std::string_view body;
    EXPECT_EQ(cfgfile::check(file, body), cfgfile::ConfigError::BadDigestLine);
}

TEST(ConfigFile, BackupsLeaveTheRunStateOut) {
    const std::string dump =
        "config\t-\t-\tstatus\tconfig backup\n"
        "config\t-\t-\tstartup\trunning\n"
        "config\t-\t-\tkeep-me\tyes\n"
        "firmware-upgrade\t-\t-\tprogress\t1\n"
        "system\t-\t-\treboot\tyes\n"
        "system\t-\t-\tfactory-reset\tyes\n"
        "system\t-\t-\tsystem-name\tap-one\n"
        "interface\twlan0\t-\tstatus\tup\n"
        "snmp\t-\t-\tro-community\treboot";
    EXPECT_EQ(cfgfile::settingsOnly(dump),
              "config\t-\t-\tkeep-me\tyes\n"
              "system\t-\t-\tsystem-name\tap-one\n"
              "interface\twlan0\t-\tstatus\tup\n"
              "snmp\t-\t-\tro-community\treboot");
}

}  // namespace
