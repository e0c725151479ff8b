// The debug printer and message capture's mount check and counter. Capture
// files are written only in the sandbox: here no folder can take one.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <utility>

#include "capture.h"
#include "daemon_state.h"
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

// /proc is mounted on every Linux host; the root file system never counts.
TEST(Capture, FirstComponentMustBeMounted) {
    const std::pair<const char *, bool> cases[] = {
        {"/proc", true}, {"/proc/cap/deeper", true},       {"proc", true},  // "proc": a device name
        {"/", false},    {"/tarn-not-mounted/cap", false}, {"/pro", false}, {"", false}};
    for (const auto &[path, usable] : cases)
        EXPECT_EQ(usable, captureFolderUsable(path)) << path;
}

class CaptureMessage : public ::testing::Test {
protected:
    void SetUp() override { folder_ = g_captureFolder; }
    void TearDown() override {
        g_debugLevel = 0;
        g_captureFolder = folder_;
    }
    const char *folder_ = nullptr;
    const std::array<uint8_t, 3> datagram_ = {0xFD, 0xFD, 0x01};
};

TEST_F(CaptureMessage, NothingWithoutDebugLevelFolderOrMount) {
    const std::pair<int, const char *> cases[] = {
        {0, "/proc/tarn-no-such-dir"}, {1, nullptr}, {1, "/tarn-not-mounted"}};
    for (const auto &[level, folder] : cases) {
        g_debugLevel = level;
        g_captureFolder = folder;
        unsigned counter = 5;
        testing::internal::CaptureStderr();
        captureMessage(CaptureKind::Reply, datagram_, counter);
        EXPECT_EQ(std::tuple("", 5u), std::tuple(testing::internal::GetCapturedStderr(), counter))
            << (folder ? folder : "none");
    }
}

// A file that cannot be created still uses up its number; numbers grow
// past four digits.
TEST_F(CaptureMessage, EveryAttemptAdvancesTheCounter) {
    g_debugLevel = 1;
    g_captureFolder = "/proc/tarn-no-such-dir";
    unsigned counter = 9999;
    testing::internal::CaptureStderr();
    captureMessage(CaptureKind::Reply, datagram_, counter);
    captureMessage(CaptureKind::Request, datagram_, counter);
    EXPECT_EQ(10001u, counter);
    EXPECT_EQ(
        "received a reply message. save it to /proc/tarn-no-such-dir/tarn_msg_9999 now.\n"
        "received a request message. save it to /proc/tarn-no-such-dir/tarn_req_10000 now.\n",
        testing::internal::GetCapturedStderr());
}

}  // namespace
