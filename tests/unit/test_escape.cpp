// strEscapeShell: the escape applied to a password before it is quoted
// into the device tool's command line.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "req_func_account.h"

namespace {

TEST(Escape, DefaultSetIsExactlyDollarQuoteBackquoteBackslash) {
    EXPECT_STREQ(strEscapeShell("$\"`\\ it's;ok|&*?"), "\\$\\\"\\`\\\\ it's;ok|&*?");
    EXPECT_STREQ(strEscapeShell(nullptr), "");
    // A custom set replaces the default one.
    EXPECT_STREQ(strEscapeShell("a$b;c", ";"), "a$b\\;c");
}

TEST(Escape, RingOfFourResults) {
    const char *ring[] = {strEscapeShell("one"), strEscapeShell("two"), strEscapeShell("three"),
                          strEscapeShell("four")};
    EXPECT_EQ(std::vector<std::string>(ring, ring + 4),
              (std::vector<std::string>{"one", "two", "three", "four"}));
    EXPECT_EQ(std::set<const char *>(ring, ring + 4).size(), 4u);
    EXPECT_EQ(strEscapeShell("five"), ring[0]);  // the fifth reuses the first
    EXPECT_EQ(std::vector<std::string>(ring, ring + 2), (std::vector<std::string>{"five", "two"}));
}

constexpr size_t kBufLen = 4096;

TEST(Escape, OverflowIsCutAtWholePairsAndStaysInItsBuffer) {
    const char *kept = strEscapeShell("kept");
    EXPECT_EQ(std::string(strEscapeShell(std::string(2 * kBufLen, 'a').c_str())),
              std::string(kBufLen - 1, 'a'));
    // Room for one more character, not for a backslash and its character.
    EXPECT_EQ(std::string(strEscapeShell((std::string(kBufLen - 2, 'a') + "$b").c_str())),
              std::string(kBufLen - 2, 'a'));
    std::string pairs;
    for (size_t i = 0; i < kBufLen / 2 - 1; i++)
        pairs += "\\`";
    EXPECT_EQ(std::string(strEscapeShell(std::string(3 * kBufLen, '`').c_str())), pairs);
    EXPECT_STREQ(kept, "kept");
}

}  // namespace
