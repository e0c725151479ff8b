// The debug printer: silent at level 0, one "tarnd: "-prefixed line on
// standard error otherwise, cut to its 1024-byte buffer.
#include <gtest/gtest.h>

#include <string>

#include "debug.h"

namespace {

class DebugPrinter : public ::testing::Test {
protected:
    void TearDown() override { g_debugLevel = 0; }

    // What `print` writes to standard error at debug level `level`.
    template <typename Print>
    static std::string printed(int level, Print print) {
        g_debugLevel = level;
        ::testing::internal::CaptureStderr();
        print();
        return ::testing::internal::GetCapturedStderr();
    }
};

// Silence at level 0 and the prefixed lines of the handlers show in the
// sandbox (test_core.py, test_reboot.py).
TEST_F(DebugPrinter, PrefixedLineAsWrittenWithArgumentsTakenAsText) {
    EXPECT_EQ(printed(1, [] { dbgPrint("%s", "no line end"); }), "tarnd: no line end");
    // A percent sign from an argument is printed, not read as a format.
    EXPECT_EQ(printed(1, [] { dbgPrint("DNS2=%s\n", "100%d%s%n"); }), "tarnd: DNS2=100%d%s%n\n");
}

TEST_F(DebugPrinter, LongLineIsCutAtTheBufferEnd) {
    const std::string arg(3000, 'x');
    const std::string out = printed(1, [&] { dbgPrint("%s\n", arg.c_str()); });
    ASSERT_EQ(out.size(), 1023u);
    EXPECT_EQ(out, "tarnd: " + std::string(1023 - 7, 'x'));
}

}  // namespace
