// strEscapeShell: the escape applied to a password before it is quoted
// into the device tool's command line.
#include <gtest/gtest.h>

#include <string>

#include "req_func_account.h"

namespace {

struct EscapeCase {
    const char *text;
    const char *set;
    const char *expected;
};

class EscapeTable : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeTable, PutsBackslashBeforeEachCharacterOfTheSet) {
    const EscapeCase &c = GetParam();
    EXPECT_STREQ(strEscapeShell(c.text, c.set), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Escape, EscapeTable,
    ::testing::Values(
        EscapeCase{"plain", nullptr, "plain"},
        EscapeCase{"", nullptr, ""},
        EscapeCase{nullptr, nullptr, ""},
        // The default set is exactly $ " ` and backslash.
        EscapeCase{"a$b", nullptr, "a\\$b"},
        EscapeCase{"\"q\"", nullptr, "\\\"q\\\""},
        EscapeCase{"`id`", nullptr, "\\`id\\`"},
        EscapeCase{"back\\slash", nullptr, "back\\\\slash"},
        EscapeCase{"$$", nullptr, "\\$\\$"},
        // Not in the default set: quotes, semicolons and the like pass.
        EscapeCase{"it's;ok|&*?", nullptr, "it's;ok|&*?"},
        // A custom set replaces the default one.
        EscapeCase{"a$b;c", ";", "a$b\\;c"},
        EscapeCase{"x'y", "'", "x\\'y"},
        EscapeCase{"abc", "", "abc"}));

TEST(EscapeRing, FifthCallReusesTheFirstBuffer) {
    const char *first = strEscapeShell("one");
    const char *second = strEscapeShell("two");
    const char *third = strEscapeShell("three");
    const char *fourth = strEscapeShell("four");
    // Four results live side by side.
    EXPECT_STREQ(first, "one");
    EXPECT_STREQ(second, "two");
    EXPECT_STREQ(third, "three");
    EXPECT_STREQ(fourth, "four");
    EXPECT_NE(first, second);
    EXPECT_NE(first, third);
    EXPECT_NE(first, fourth);
    EXPECT_NE(second, third);
    EXPECT_NE(third, fourth);
    const char *fifth = strEscapeShell("five");
    EXPECT_EQ(fifth, first);
    EXPECT_STREQ(first, "five");
    EXPECT_STREQ(second, "two");
}

constexpr size_t kBufLen = 4096;

TEST(EscapeBound, TextThatFitsExactlyIsKept) {
    std::string text(kBufLen - 1, 'a');
    EXPECT_EQ(std::string(strEscapeShell(text.c_str())), text);
}

TEST(EscapeBound, LongPlainTextIsCutToTheBuffer) {
    std::string text(2 * kBufLen, 'a');
    std::string out = strEscapeShell(text.c_str());
    EXPECT_EQ(out, std::string(kBufLen - 1, 'a'));
}

TEST(EscapeBound, EscapePairIsNeverSplitAtTheEnd) {
    // 4094 plain characters leave room for one more character, not for a
    // backslash and its character: the dollar sign is dropped whole.
    std::string text(kBufLen - 2, 'a');
    text += "$b";
    std::string out = strEscapeShell(text.c_str());
    EXPECT_EQ(out, std::string(kBufLen - 2, 'a'));
    EXPECT_NE(out.back(), '\\');
}

TEST(EscapeBound, AllEscapedTextStopsAtWholePairs) {
    std::string text(kBufLen, '$');
    std::string out = strEscapeShell(text.c_str());
    ASSERT_EQ(out.size(), kBufLen - 2);  // 2047 pairs and the terminator
    for (size_t i = 0; i < out.size(); i += 2) {
        ASSERT_EQ(out[i], '\\') << i;
        ASSERT_EQ(out[i + 1], '$') << i;
    }
}

TEST(EscapeBound, OverflowDoesNotTouchTheNeighbouringBuffer) {
    const char *kept = strEscapeShell("kept");
    std::string text(3 * kBufLen, '`');
    for (int i = 0; i < 3; i++)
        strEscapeShell(text.c_str());
    EXPECT_STREQ(kept, "kept");
}

}  // namespace
