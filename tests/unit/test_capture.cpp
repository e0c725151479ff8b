// Message capture: the mount check and the capture counter. Files are only
// written in the device sandbox (integration suite); here every folder is
// either refused or one where a file cannot be created.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "capture.h"
#include "daemon_state.h"
#include "debug.h"

namespace {

struct MountCase {
    const char *path;
    bool usable;
};

class MountCheck : public ::testing::TestWithParam<MountCase> {};

TEST_P(MountCheck, FirstComponentMustBeMounted) {
    EXPECT_EQ(GetParam().usable, captureFolderUsable(GetParam().path)) << GetParam().path;
}

// /proc and /sys are mounted on every Linux host; the root file system
// never counts.
INSTANTIATE_TEST_SUITE_P(Capture, MountCheck,
                         ::testing::Values(MountCase{"/proc", true},
                                           MountCase{"/proc/cap/deeper", true},
                                           MountCase{"/sys/fs", true},
                                           MountCase{"proc", true},  // a device name
                                           MountCase{"/", false},
                                           MountCase{"/tarn-not-mounted/cap", false},
                                           MountCase{"/pro", false},
                                           MountCase{"", false}));

class Capture : public ::testing::Test {
protected:
    void TearDown() override {
        g_debugLevel = 0;
        g_captureFolder = "/Volume_1";
    }
    const std::array<uint8_t, 3> datagram_ = {0xFD, 0xFD, 0x01};
};

TEST_F(Capture, NothingWithoutDebugLevel) {
    g_debugLevel = 0;
    g_captureFolder = "/proc/tarn-no-such-dir";
    unsigned counter = 5;
    testing::internal::CaptureStderr();
    captureMessage(CaptureKind::Request, datagram_, counter);
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    EXPECT_EQ(5u, counter);
}

TEST_F(Capture, NothingWithoutFolder) {
    g_debugLevel = 1;
    g_captureFolder = nullptr;
    unsigned counter = 5;
    testing::internal::CaptureStderr();
    captureMessage(CaptureKind::Request, datagram_, counter);
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    EXPECT_EQ(5u, counter);
}

TEST_F(Capture, NothingOnUnmountedFolder) {
    g_debugLevel = 1;
    g_captureFolder = "/tarn-not-mounted";
    unsigned counter = 5;
    testing::internal::CaptureStderr();
    captureMessage(CaptureKind::Reply, datagram_, counter);
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    EXPECT_EQ(5u, counter);
}

// A file that cannot be created still uses up its number.
TEST_F(Capture, EveryAttemptAdvancesTheCounter) {
    g_debugLevel = 1;
    g_captureFolder = "/proc/tarn-no-such-dir";
    unsigned counter = 7;
    testing::internal::CaptureStderr();
    captureMessage(CaptureKind::Request, datagram_, counter);
    captureMessage(CaptureKind::Reply, datagram_, counter);
    EXPECT_EQ(
        "received a request message. save it to /proc/tarn-no-such-dir/tarn_req_0007 now.\n"
        "received a reply message. save it to /proc/tarn-no-such-dir/tarn_msg_0008 now.\n",
        testing::internal::GetCapturedStderr());
    EXPECT_EQ(9u, counter);
}

TEST_F(Capture, NumbersGrowPastFourDigits) {
    g_debugLevel = 1;
    g_captureFolder = "/proc/tarn-no-such-dir";
    unsigned counter = 10000;
    testing::internal::CaptureStderr();
    captureMessage(CaptureKind::Request, datagram_, counter);
    EXPECT_EQ(
        "received a request message. save it to /proc/tarn-no-such-dir/tarn_req_10000 now.\n",
        testing::internal::GetCapturedStderr());
}

}  // namespace
