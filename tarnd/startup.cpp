// Start-up of the daemon.
#include "startup.h"

#include "daemon_state.h"
#include "debug.h"
#include "loop.h"
#include "reserved_ip.h"
#include "sys.h"
#include "sys_cmd.h"
#include "tarn_version.h"
#include "transfer.h"
#include "wire.h"

#include <endian.h>
#include <getopt.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

namespace {

// The device's management daemon writes this once it is up; the settings
// store is not to be touched before.
constexpr const char *kManagerPidFile = "/var/run/dman.pid";

constexpr size_t kShellCommandLen = 1024;

void printUsage() {
    std::printf("%s:\n", "main");
    std::printf("\t-d, --debug: set debug level\n");
}

// The folder reaches a shell command line unquoted: only the characters of
// a safe file name, and no first character that mkdir would take for an
// option or the shell for a home folder.
bool isSafeFolder(std::string_view path) {
    return !path.starts_with('-') && !path.starts_with('~') &&
           std::all_of(path.begin(), path.end(), isSafeNameChar);
}

// -f: the folder replaces any earlier one and is created at once. A path
// that would not fit the mkdir command line, or that holds other
// characters, is refused and capture is off until a later -f names a
// usable folder.
void setCaptureFolder(const char *path) {
    if (!isSafeFolder(path)) {
        std::printf(
            "Capture folder refused: the path may only hold A-Z a-z 0-9 . _ - + ~ / "
            "and may not begin with - or ~.\n");
        g_captureFolder = nullptr;
        return;
    }
    std::array<char, kShellCommandLen> command;
    const int len = std::snprintf(command.data(), command.size(), "mkdir -p %s", path);
    if (len < 0 || static_cast<size_t>(len) >= command.size()) {
        std::printf("Capture folder refused: the path is longer than %zu characters.\n",
                    command.size() - sizeof "mkdir -p ");
        g_captureFolder = nullptr;
        return;
    }
    g_captureFolder = path;
    // A failing mkdir prints its own complaint; capture then finds no folder.
    sysShell(command.data());
}

// The option string has no leading ':', so the parser itself reports an
// unknown option or a missing -f value and hands back '?' for both.
void parseCommandLine(int argc, char **argv) {
    static const option kLongOptions[] = {
        {"debug", no_argument, nullptr, 'd'},
        {"folder", required_argument, nullptr, 'f'},
        {"help", no_argument, nullptr, 'h'},
        // Long form only: -V stays an unknown option, as before.
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    int opt = 0;
    while ((opt = getopt_long(argc, argv, "df:h", kLongOptions, nullptr)) != -1) {
        switch (opt) {
        case 'd':
            g_debugLevel = 1;
            break;
        case 'f':
            setCaptureFolder(optarg);
            break;
        case 'V':
            std::printf("tarnd %s\n", TARN_VERSION);
            std::exit(0);
        default:  // 'h' and '?'
            printUsage();
            std::exit(0);
        }
    }
}

void printByteOrderSelfTest() {
    constexpr std::array<uint8_t, 4> bytes = {0x01, 0x02, 0x03, 0x04};
    uint32_t value = 0;
    std::memcpy(&value, bytes.data(), sizeof value);
    if constexpr (std::endian::native == std::endian::little) {
        dbgPrint("This a little endian system.\n");
    } else {
        dbgPrint("This a big endian system.\n");
    }
    dbgPrint("buf= 01 02 03 04, value=%08x\n", value);
    const uint32_t fromBig = be32toh(value);
    dbgPrint("value(be32toh)=%08x\n", fromBig);
    dbgPrint("value(le32toh)=%08x\n", le32toh(fromBig));
}

// The management daemon may take as long as it takes.
void waitForManagementDaemon() {
    struct stat st {};
    while (stat(kManagerPidFile, &st) != 0) {
        sleep(1);
    }
}

void closeSockets(const InterfaceContext &ctx) {
    if (ctx.recvSock >= 0) {
        close(ctx.recvSock);
    }
    if (ctx.sendSock >= 0) {
        close(ctx.sendSock);
    }
}

struct ContextCloser {
    void operator()(InterfaceContext *ctx) const {
        closeSockets(*ctx);
        delete ctx;
    }
};
using ContextPtr = std::unique_ptr<InterfaceContext, ContextCloser>;

// Broadcast on, and tied to the interface. Failures are tolerated: the bind
// or the first send shows whether the socket is usable.
void tieToInterface(int sock, const InterfaceContext &ctx) {
    const int on = 1;
    setsockopt(sock, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    setsockopt(sock, SOL_SOCKET, SO_BINDTODEVICE, ctx.name,
               static_cast<socklen_t>(strnlen(ctx.name, sizeof ctx.name)));
}

// Sets up interface i, or prints why not and returns null.
ContextPtr openInterface(int i) {
    ContextPtr ctx{new (std::nothrow) InterfaceContext{}};
    if (!ctx) {
        return nullptr;
    }
    ctx->recvSock = -1;
    ctx->sendSock = -1;
    if (sysGetIfName(i, ctx->name) != 0) {
        std::printf("Get %d interface name failed.\n", i);
        return nullptr;
    }
    ctx->sendSock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (ctx->sendSock < 0) {
        std::printf("Create send socket for interface %d failed.\n", i);
        return nullptr;
    }
    tieToInterface(ctx->sendSock, *ctx);
    ctx->recvSock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (ctx->recvSock < 0) {
        std::printf("Create receive socket for interface %d failed.\n", i);
        return nullptr;
    }
    tieToInterface(ctx->recvSock, *ctx);
    // Requests are broadcast, so only the limited broadcast address is bound.
    const sockaddr_in addr = broadcastAddress(wire::kRequestPort);
    if (bind(ctx->recvSock, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0) {
        std::printf("Bind interface %d failed.\n", i);
        return nullptr;
    }
    return ctx;
}

// Every interface failure ends the daemon the same way, after giving back
// what the stored contexts hold.
[[noreturn]] void abandonInterfaces() {
    for (int i = 0; g_ifTable != nullptr && i < g_ifCount; ++i) {
        if (g_ifTable[i] != nullptr) {
            ContextCloser{}(g_ifTable[i]);
            g_ifTable[i] = nullptr;
        }
    }
    std::printf("out of memory\n");
    std::exit(255);
}

void openInterfaces() {
    g_ifCount = sysGetIfCount();
    if (g_ifCount <= 0) {
        return;
    }
    g_ifTable = new (std::nothrow) InterfaceContext *[static_cast<size_t>(g_ifCount)];
    if (g_ifTable == nullptr) {
        abandonInterfaces();
    }
    for (int i = 0; i < g_ifCount; ++i) {
        g_ifTable[i] = nullptr;
    }
    for (int i = 0; i < g_ifCount; ++i) {
        ContextPtr ctx = openInterface(i);
        if (!ctx) {
            abandonInterfaces();
        }
        g_ifTable[i] = ctx.release();
    }
}

}  // namespace

void tarndMain(int argc, char **argv) {
    // Standard output usually goes to a log file or a pipe: one line at a time.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    parseCommandLine(argc, argv);
    dbgPrint("%s %s\n", __DATE__, __TIME__);
    if (g_debugLevel != 0) {
        printByteOrderSelfTest();
    }
    waitForManagementDaemon();
    openInterfaces();
    restoreReservedAddress();
    eventLoop();
}
