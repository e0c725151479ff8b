// Trimming and the clock's line reader, driven by printf in place of "date"
// so the machine's clock is never touched; dates around January 2038.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
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
    ASSERT_TRUE(sysReadTrimmedLine("printf '  123456789012345 \\r\\n2\\n'", buf));
    EXPECT_STREQ(buf.data(), "123456789012345");
    ASSERT_TRUE(sysReadTrimmedLine("printf ' \\t2024\\r\\n'", buf));
    EXPECT_EQ(std::string(buf.data(), 4), "2024");
    EXPECT_TRUE(allZero(std::span(buf).subspan(4)));
}

TEST(ReadLine, NoOutputOrNoRoomIsRefusedWithAClearedBuffer) {
    // A guard zone behind the buffer must stay untouched.
    std::array<char, 48> mem;
    std::span<char> buf(mem.data(), 16);
    for (const char *command :
         {"true", "printf '1234567890123456\\n'", "head -c 5000 /dev/zero | tr '\\0' 7"}) {
        mem.fill('g');
        EXPECT_FALSE(sysReadTrimmedLine(command, buf)) << command;
        EXPECT_TRUE(allZero(buf)) << command;
        EXPECT_TRUE(std::all_of(mem.begin() + 16, mem.end(), [](char c) { return c == 'g'; }))
            << command;
    }
}

// Local time of a 14-digit stamp, as the date command prints it.
std::time_t localStamp(const char *digits) {
    std::tm tm = {};
    EXPECT_NE(strptime(digits, "%Y%m%d%H%M%S", &tm), nullptr) << digits;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

TEST(ClockDate, DatesPast2038AreReportedAndWrappedOnesRefused) {
    // 32-bit targets are built with a 64-bit time_t.
    ASSERT_GE(sizeof(std::time_t), 8u);
    const std::time_t in2040 = localStamp("20400229120000");
    ASSERT_GT(in2040, std::time_t{0x7fffffff});
    EXPECT_TRUE(sysIsClockDate("20400229120000", in2040));
    EXPECT_TRUE(sysIsClockDate("20400229235959", in2040));  // a time zone away
    // What a 32-bit date tool prints after 2038-01-19 03:14:07 UTC: the
    // signed wrap, and the C library's refusal (time_t -1).
    const std::time_t pastWrap = localStamp("20380120000000");
    for (const char *wrapped : {"19011213204552", "19700101000000", "19691231235959"})
        EXPECT_FALSE(sysIsClockDate(wrapped, pastWrap)) << wrapped;
    // A daemon that cannot read its own clock reports nothing.
    EXPECT_FALSE(sysIsClockDate("20400229120000", static_cast<std::time_t>(-1)));
    for (const char *malformed : {"", "2040022912000", "204002291200000", "2040022912000x",
                                  "20401329120000", " 2040022912000"})
        EXPECT_FALSE(sysIsClockDate(malformed, in2040)) << '"' << malformed << '"';
}

TEST(ClockDate, ADateToolThatWrappedGivesAClearedField) {
    // A date tool first in PATH that prints a wrapped date.
    char dir[] = "/tmp/tarn-clock-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string tool = std::string(dir) + "/date";
    std::ofstream(tool) << "#!/bin/sh\necho 19011213204552\n";
    ASSERT_EQ(chmod(tool.c_str(), 0755), 0);
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (std::string(dir) + ":" + oldPath).c_str(), 1);
    std::array<char, 16> buf;
    buf.fill('x');
    const int wrapped = sysGetDatetime(buf);
    setenv("PATH", oldPath.c_str(), 1);
    std::remove(tool.c_str());
    rmdir(dir);
    EXPECT_EQ(wrapped, -1);
    EXPECT_TRUE(allZero(buf));
    // The real date command gives the clock's date.
    ASSERT_EQ(sysGetDatetime(buf), 0);
    EXPECT_TRUE(sysIsClockDate(buf.data(), std::time(nullptr)));
}

}  // namespace

// While the reader waits for its command, another thread may start a device
// program (a restore runs wget or tftp): the reader's end of the pipe must
// not leak into it. The command looks up, among its parent's descriptors,
// the one on the pipe it writes to and prints that descriptor's open flags.
TEST(ReadLine, ThePipeIsCloseOnExec) {
    std::array<char, 32> flags{};
    ASSERT_TRUE(
        sysReadTrimmedLine("p=$(readlink /proc/$$/fd/1); for f in /proc/$PPID/fd/*; do "
                           "[ \"$(readlink $f)\" = \"$p\" ] && "
                           "sed -n 's/^flags:[[:space:]]*//p' /proc/$PPID/fdinfo/${f##*/}; done",
                           flags));
    EXPECT_NE(std::stoul(flags.data(), nullptr, 8) & O_CLOEXEC, 0u) << flags.data();
}
