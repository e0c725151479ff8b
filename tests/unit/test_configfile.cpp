// The configuration file of backups: checksum, corruption, and which
// settings a backup carries.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <tuple>

#include "cfgfile.h"

namespace {

const std::string kBody =
    "system\t-\t-\tsystem-name\tap-one\n"
    "interface\twlan0vap1\t-\tssid\tguest\n"
    "vap\tvap5\tradio=wlan1\tvlan-id\t12\n";

TEST(ConfigFile, BuildsHeaderChecksumAndBodyAndPassesIntact) {
    // The digest was computed independently: printf '...' | sha256sum
    const std::string file = *cfgfile::build(kBody);
    EXPECT_EQ(file,
              "TARN-CONFIG 1\n"
              "SHA256 ac7719d5c58fd31613162c9bb4c5306a848663560dcd4c598f023171a1eb230f\n" +
                  kBody);
    std::string_view body;
    EXPECT_EQ(cfgfile::check(file, body), cfgfile::ConfigError::None);
    EXPECT_EQ(body, kBody);
}

TEST(ConfigFile, DamagedFilesAreRefused) {
    using E = cfgfile::ConfigError;
    constexpr size_t kBodyStart = 14 + 7 + 64 + 1;
    const std::string intact = *cfgfile::build(kBody);
    auto flipped = [&](size_t at) {
        std::string f = intact;
        f[at] ^= 0x01;
        return f;
    };
    const std::tuple<const char *, std::string, E> cases[] = {
        {"header version", flipped(12), E::BadHeader},
        {"empty file", "", E::BadHeader},
        {"checksum tag", flipped(14), E::BadDigestLine},
        {"checksum line cut", intact.substr(0, 40), E::BadDigestLine},
        {"63 digits", intact.substr(0, 20) + intact.substr(21), E::BadDigestLine},
        {"checksum digit", flipped(30), E::BadChecksum},
        {"body byte", flipped(kBodyStart + 3), E::BadChecksum}};
    for (const auto &[what, file, expected] : cases) {
        std::string_view body = "untouched";
        EXPECT_EQ(cfgfile::check(file, body), expected) << what;
        EXPECT_EQ(body, "untouched") << what;
    }
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
