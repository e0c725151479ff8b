// One datagram through the whole request path, as the event loop serves it:
// filtering, credential decoding and check, the handler's two calls and the
// replies, against a settings store seeded from the factory defaults.
//
// Nothing leaves the process: every command line goes to a recorder that
// aborts on anything but a documented command with safe arguments, the
// restore worker runs inline, and the reset's kept-address file lies in the
// run's own folder. Replies are checked for a sound header.
#include <crypt.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "command_rules.h"
#include "daemon_state.h"
#include "debug.h"
#include "loop.h"
#include "req_func_config.h"
#include "req_func_network.h"
#include "seeded_store.h"
#include "sys.h"
#include "sys_cmd.h"
#include "wire.h"

namespace {

SeededStore *g_store;
std::array<uint8_t, 6> g_ownMac;
std::array<uint8_t, 4> g_ownIp;
unsigned g_captureCounter;

[[noreturn]] void finding(const char *what, std::string_view detail) {
    std::fprintf(stderr, "FINDING: %s: \"%.*s\"\n", what, static_cast<int>(detail.size()),
                 detail.data());
    std::abort();
}

int recordCommand(const char *command) {
    const std::string_view line(command);
    if (line.size() >= 1024 || !isDocumentedCommand(line))
        finding("shell command outside the documented command lines", line);
    // A refused configuration file keeps the restore worker from its
    // two-second pause: the fuzzer runs it inline.
    if (line.starts_with("/usr/sbin/config-file validate "))
        return 1 << 8;
    return 0;
}

bool runWorkerInline(RestoreJob *job) {
    configRestoreWorker(job);
    return true;
}

void checkReply(void *, std::span<const uint8_t> datagram) {
    if (datagram.size() < wire::kHeaderLen || datagram.size() > wire::kMaxDatagram)
        finding("reply length", std::to_string(datagram.size()));
    const wire::message_t hdr = wire::decode_header(datagram);
    if (hdr.uMsgType != wire::kTypeReply || hdr.uRetFlag != wire::kRetFlag)
        finding("reply header", std::to_string(hdr.uMsgType));
    if (wire::kHeaderLen + hdr.uBodyLen != datagram.size())
        finding("reply body length differs from the datagram", std::to_string(hdr.uBodyLen));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    const std::string folder = fuzzFolder();
    static SeededStore store;
    if (!store.open(folder, TARN_FACTORY_DUMP))
        std::abort();
    // The factory hash costs 5000 SHA-256 rounds per protected request; the
    // same password with the fewest rounds crypt() allows keeps the check
    // real and the fuzzer fast.
    const char *hash = crypt("tarnadmin", "$5$rounds=1000$tf$");
    if (hash == nullptr || hash[0] == '*') {
        std::fprintf(stderr, "fuzz: crypt() cannot make the admin hash\n");
        std::abort();
    }
    store.override("system", "encrypted-password", hash);
    store.reseed();
    g_store = &store;

    static const std::string keptAddressFile = folder + "/reserved_IP";
    setReservedIpSaveFile(keptAddressFile.c_str());
    sysSetShellExec(recordCommand);
    setRestoreWorkerStart(runWorkerInline);
    g_debugLevel = 0;  // no capture files, no trace on stderr
    g_curIfIndex = 0;
    sysGetLanMac(0, g_ownMac);
    sysGetLanIp(0, g_ownIp);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    g_store->reseedIfChanged();
    serveDatagram(std::span<const uint8_t>(data, size), g_ownMac, g_ownIp,
                  ReplySink{checkReply, nullptr}, g_captureCounter);
    return 0;
}
