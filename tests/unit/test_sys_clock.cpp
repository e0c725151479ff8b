// Text trimming and the clock reader. The reader is driven with harmless
// printf commands in place of "date", which shows the trimming and the
// buffer bound without touching the machine's clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <string>

#include "sys_clock.h"
#include "temp_store.h"

namespace {

struct TrimCase {
    const char *name;
    const char *text;
    const char *set;
    const char *right;  // strTrimRight result
    const char *left;   // strTrimLeft result
    const char *both;   // strTrim result
};

class TrimTable : public ::testing::TestWithParam<TrimCase> {};

TEST_P(TrimTable, TrimsOnlyCharactersOfTheSet) {
    const TrimCase &c = GetParam();
    std::string r = c.text, l = c.text, b = c.text;
    EXPECT_STREQ(strTrimRight(r.data(), c.set), c.right);
    EXPECT_STREQ(strTrimLeft(l.data(), c.set), c.left);
    EXPECT_STREQ(strTrim(b.data(), c.set), c.both);
}

INSTANTIATE_TEST_SUITE_P(
    Trim, TrimTable,
    ::testing::Values(
        TrimCase{"Untouched", "abc", nullptr, "abc", "abc", "abc"},
        TrimCase{"DefaultSet", "  abc\r\n", nullptr, "  abc", "abc\r\n", "abc"},
        TrimCase{"TabsAndMixedOrder", "\t\n abc \t\r", nullptr, "\t\n abc", "abc \t\r", "abc"},
        TrimCase{"InnerBlanksStay", " a b\tc ", nullptr, " a b\tc", "a b\tc ", "a b\tc"},
        TrimCase{"OnlySetCharacters", " \t\r\n ", nullptr, "", "", ""},
        TrimCase{"Empty", "", nullptr, "", "", ""},
        TrimCase{"CustomSet", "xxabcxy", "xy", "xxabc", "abcxy", "abc"},
        TrimCase{"CustomSetKeepsBlanks", " -abc- ", "-", " -abc- ", " -abc- ", " -abc- "},
        TrimCase{"EmptySetTrimsNothing", " abc ", "", " abc ", " abc ", " abc "}),
    [](const auto &p) { return std::string(p.param.name); });

TEST(Trim, LeftReturnsPointerIntoTheTextAndRightWritesInPlace) {
    char text[] = "  abc\r\n";
    char *result = strTrim(text, nullptr);
    EXPECT_EQ(result, text + 2);
    // Both trailing characters are overwritten, the leading ones stay.
    EXPECT_EQ(text[5], '\0');
    EXPECT_EQ(text[6], '\0');
    EXPECT_EQ(text[0], ' ');
}

TEST(Trim, NullTextIsReturnedUnchanged) {
    EXPECT_EQ(strTrimRight(nullptr, nullptr), nullptr);
    EXPECT_EQ(strTrimLeft(nullptr, " "), nullptr);
    EXPECT_EQ(strTrim(nullptr, nullptr), nullptr);
}

// ---- The line reader behind sysGetDatetime --------------------------------

bool allZero(std::span<const char> buf) {
    return std::all_of(buf.begin(), buf.end(), [](char c) { return c == '\0'; });
}

TEST(ReadLine, TrimsTheLineAndZeroFillsTheRest) {
    std::array<char, 16> buf;
    buf.fill('x');
    ASSERT_EQ(sysReadTrimmedLine("printf ' \\t20241231235959\\r\\n'", buf), 0);
    EXPECT_EQ(std::string(buf.data(), 14), "20241231235959");
    EXPECT_TRUE(allZero(std::span(buf).subspan(14)));
}

TEST(ReadLine, OnlyTheFirstLineIsTaken) {
    std::array<char, 16> buf{};
    ASSERT_EQ(sysReadTrimmedLine("printf '1\\n2\\n'", buf), 0);
    EXPECT_STREQ(buf.data(), "1");
}

TEST(ReadLine, NoOutputFailsWithAClearedBuffer) {
    std::array<char, 16> buf;
    buf.fill('x');
    EXPECT_EQ(sysReadTrimmedLine("true", buf), -1);
    EXPECT_TRUE(allZero(buf));
}

TEST(ReadLine, LineAsLongAsTheBufferIsRefused) {
    std::array<char, 16> buf;
    buf.fill('x');
    // 16 characters leave no room for the terminator.
    EXPECT_EQ(sysReadTrimmedLine("printf '1234567890123456\\n'", buf), -1);
    EXPECT_TRUE(allZero(buf));
}

TEST(ReadLine, LongestLineThatFitsIsKept) {
    std::array<char, 16> buf;
    buf.fill('x');
    ASSERT_EQ(sysReadTrimmedLine("printf '  123456789012345  \\n'", buf), 0);
    EXPECT_STREQ(buf.data(), "123456789012345");
}

TEST(ReadLine, OverlongLineNeverSpillsPastTheBuffer) {
    // A guard zone behind the buffer must stay untouched.
    std::array<char, 48> mem;
    mem.fill('g');
    std::span<char> buf(mem.data(), 16);
    EXPECT_EQ(sysReadTrimmedLine("head -c 5000 /dev/zero | tr '\\0' 7", buf), -1);
    EXPECT_TRUE(allZero(buf));
    EXPECT_TRUE(std::all_of(mem.begin() + 16, mem.end(), [](char c) { return c == 'g'; }));
}

TEST(Datetime, DateCommandGivesFourteenDigitsThenZeros) {
    std::array<uint8_t, 16> field;
    field.fill(0xAA);
    ASSERT_EQ(sysGetDatetimeField(field), 0);
    for (size_t i = 0; i < 14; i++)
        EXPECT_TRUE(std::isdigit(field[i])) << i;
    EXPECT_EQ(field[14], 0);
    EXPECT_EQ(field[15], 0);
}

// ---- NTP readers ----------------------------------------------------------

class Ntp : public ::testing::Test {
protected:
    static TempStore &store() {
        static TempStore s;
        return s;
    }
    void SetUp() override { store().clear(); }
};

TEST_F(Ntp, StatusIsOneOnlyForUp) {
    EXPECT_EQ(sysGetNtpStatus(), 0);  // missing
    for (const char *value : {"down", "Up", "up ", ""}) {
        store().set("ntp", "status", value);
        EXPECT_EQ(sysGetNtpStatus(), 0) << value;
    }
    store().set("ntp", "status", "up");
    EXPECT_EQ(sysGetNtpStatus(), 1);
}

TEST_F(Ntp, ServerIsReadIntoAClearedBuffer) {
    std::array<char, 65> buf;
    buf.fill('x');
    EXPECT_EQ(sysGetNtpServer(buf), 0);
    EXPECT_TRUE(allZero(buf));
    store().set("ntp", "server", "pool.ntp.example");
    buf.fill('x');
    EXPECT_EQ(sysGetNtpServer(buf), 0);
    EXPECT_STREQ(buf.data(), "pool.ntp.example");
    EXPECT_TRUE(allZero(std::span(buf).subspan(17)));
}

TEST(DaylightSaving, AlwaysZero) {
    EXPECT_EQ(sysGetDaylightSaving(), 0);
}

}  // namespace
