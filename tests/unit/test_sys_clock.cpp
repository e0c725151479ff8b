// Text trimming and the line reader behind the clock. The reader is driven
// with harmless printf commands in place of "date", which shows the trimming
// and the buffer bound without touching the machine's clock.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <algorithm>
#include <array>
#include <string>

#include "sys_clock.h"

namespace {

TEST(Trim, OnlyCharactersOfTheSetAtEitherEnd) {
    const struct {
        const char *text, *set, *right, *left, *both;
    } cases[] = {
        {"\t\n abc \t\r", nullptr, "\t\n abc", "abc \t\r", "abc"},
        {" a b\tc ", nullptr, " a b\tc", "a b\tc ", "a b\tc"},  // inner blanks stay
        {" \t\r\n ", nullptr, "", "", ""},
        {"", nullptr, "", "", ""},
        {"xxabcxy", "xy", "xxabc", "abcxy", "abc"},  // a custom set replaces the default
        {" -abc- ", "-", " -abc- ", " -abc- ", " -abc- "},
        {" abc ", "", " abc ", " abc ", " abc "},
    };
    for (const auto &c : cases) {
        std::string r = c.text, l = c.text, b = c.text;
        EXPECT_STREQ(strTrimRight(r.data(), c.set), c.right) << c.text;
        EXPECT_STREQ(strTrimLeft(l.data(), c.set), c.left) << c.text;
        EXPECT_STREQ(strTrim(b.data(), c.set), c.both) << c.text;
    }
    EXPECT_EQ(strTrim(nullptr, nullptr), nullptr);
}

bool allZero(std::span<const char> buf) {
    return std::all_of(buf.begin(), buf.end(), [](char c) { return c == '\0'; });
}

TEST(ReadLine, FirstLineTrimmedAndZeroFilled) {
    std::array<char, 16> buf;
    buf.fill('x');
    // The longest line that fits: 15 characters and the terminator.
    ASSERT_EQ(sysReadTrimmedLine("printf '  123456789012345 \\r\\n2\\n'", buf), 0);
    EXPECT_STREQ(buf.data(), "123456789012345");
    ASSERT_EQ(sysReadTrimmedLine("printf ' \\t2024\\r\\n'", buf), 0);
    EXPECT_EQ(std::string(buf.data(), 4), "2024");
    EXPECT_TRUE(allZero(std::span(buf).subspan(4)));
}

TEST(ReadLine, NoOutputOrNoRoomIsRefusedWithAClearedBuffer) {
    // A guard zone behind the buffer must stay untouched.
    std::array<char, 48> mem;
    std::span<char> buf(mem.data(), 16);
    for (const char *command : {"true", "printf '1234567890123456\\n'", "head -c 5000 /dev/zero | tr '\\0' 7"}) {
        mem.fill('g');
        EXPECT_EQ(sysReadTrimmedLine(command, buf), -1) << command;
        EXPECT_TRUE(allZero(buf)) << command;
        EXPECT_TRUE(std::all_of(mem.begin() + 16, mem.end(), [](char c) { return c == 'g'; })) << command;
    }
}

}  // namespace

// While the reader waits for its command, another thread may start a device
// program (a restore runs wget or tftp): the reader's end of the pipe must
// not leak into it. The command looks up, among its parent's descriptors,
// the one on the pipe it writes to and prints that descriptor's open flags.
TEST(ReadLine, ThePipeIsCloseOnExec) {
    std::array<char, 32> flags{};
    ASSERT_EQ(sysReadTrimmedLine("p=$(readlink /proc/$$/fd/1); for f in /proc/$PPID/fd/*; do "
                                 "[ \"$(readlink $f)\" = \"$p\" ] && "
                                 "sed -n 's/^flags:[[:space:]]*//p' /proc/$PPID/fdinfo/${f##*/}; done",
                                 flags),
              0);
    EXPECT_NE(std::stoul(flags.data(), nullptr, 8) & O_CLOEXEC, 0u) << flags.data();
}
