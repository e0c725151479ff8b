// The XML database's null store and the text-to-number conversions.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "dbxmldb.h"

namespace {

struct LlCase {
    const char *text;
    long long value;
    int err;
    const char *out;  // exactly what the conversion prints
};

TEST(Str2ll, Table) {
    const LlCase cases[] = {
        {"0x1F", 31, 0, ""},
        {"42", 42, 0, ""},
        {"-42", -42, 0, ""},
        {"", 0, 0, ""},
        {"42abc", 0, EINVAL, "str2ll: input string, 42abc, is invalid\nstr2ll: abc\n"},
        {"0X1F", 0, EINVAL, "str2ll: input string, 0X1F, is invalid\nstr2ll: X1F\n"},
        {"99999999999999999999", 0, ERANGE, ""},
        {"-99999999999999999999", 0, ERANGE, ""},
        {"9223372036854775807", LLONG_MAX, 0, ""},
        {nullptr, 0, EINVAL, "str2ll: input string is NULL\n"},
    };
    for (const auto &c : cases) {
        const std::string label = c.text != nullptr ? c.text : "(null)";
        errno = EBADF;  // the conversion must clear it
        testing::internal::CaptureStdout();
        const long long got = str2ll(c.text);
        const int err = errno;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out) << label;
        EXPECT_EQ(got, c.value) << label;
        EXPECT_EQ(err, c.err) << label;
    }
}

struct UllCase {
    const char *text;
    unsigned long long value;
    int err;
    const char *out;
};

TEST(Str2ull, Table) {
    const UllCase cases[] = {
        {"0x1F", 31, 0, ""},
        {"42", 42, 0, ""},
        {"-1", ULLONG_MAX, 0, ""},
        {"42abc", 0, EINVAL, "str2ull: input string, 42abc, is invalid\n"},
        {"0X1F", 0, EINVAL, "str2ull: input string, 0X1F, is invalid\n"},
        {"99999999999999999999", 0, ERANGE, ""},
        {nullptr, 0, EINVAL, "str2ull: input string is NULL\n"},
    };
    for (const auto &c : cases) {
        const std::string label = c.text != nullptr ? c.text : "(null)";
        errno = EBADF;
        testing::internal::CaptureStdout();
        const unsigned long long got = str2ull(c.text);
        const int err = errno;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out) << label;
        EXPECT_EQ(got, c.value) << label;
        EXPECT_EQ(err, c.err) << label;
    }
}

TEST(NullStore, ReadsFindNothingAfterWrites) {
    EXPECT_EQ(dbSetString("secret", "/system/ddns/%s", "password"), 0);
    EXPECT_EQ(dbSetI64(1, "/system/lan/vlan_enable"), 0);
    EXPECT_EQ(dbSetU64(42, "/system/lan/vlan_id"), 0);

    char out[16];
    std::strcpy(out, "stale");
    dbGetString(out, "/system/ddns/%s", "password");
    EXPECT_STREQ(out, "");
    EXPECT_EQ(dbGetI64("/system/lan/vlan_enable"), 0);
    EXPECT_EQ(dbGetU64("/system/lan/vlan_id"), 0u);
    EXPECT_EQ(dbGetI64("/raid/vols/count"), 0);
}

// A path that does not fit its 1024 bytes is refused rather than cut: reads
// still give the empty text, writes report the refusal.
TEST(NullStore, OverlongPathIsRefused) {
    const std::string longName(1024, 'v');
    const std::string fitting(1023 - std::strlen("/raid/vols/"), 'v');
    char out[8];
    std::strcpy(out, "stale");
    EXPECT_EQ(dbGetString(out, "/raid/vols/%s", longName.c_str()), -1);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(dbSetString("x", "/raid/vols/%s", longName.c_str()), -1);
    EXPECT_EQ(dbSetU64(1, "/raid/vols/%s", longName.c_str()), -1);
    EXPECT_EQ(dbSetI64(1, "/raid/vols/%s", longName.c_str()), -1);
    EXPECT_EQ(dbGetU64("/raid/vols/%s", longName.c_str()), 0u);
    EXPECT_EQ(dbSetString("x", "/raid/vols/%s", fitting.c_str()), 0);
}

}  // namespace
