// Firmware upgrade from a TFTP or HTTP server. The upgrade's state lives in
// the store ("firmware-upgrade", "progress") so that it survives a daemon
// restart; other parts of the device set it to "1" or "2" to have the next
// request of this operation end in a reboot or a shutdown.
#include "req_func_firmware.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "cfg.h"
#include "debug.h"
#include "sys_cmd.h"
#include "transfer.h"

namespace wt = wire::transfer;

namespace {

constexpr const char *kSection = "firmware-upgrade";
constexpr const char *kProgress = "progress";

// flash-upgrade runs in the background: "... >/dev/console 2>&1 &".
constexpr std::string_view kFlashUpgradeTool = "/usr/sbin/flash-upgrade";
constexpr std::string_view kInBackground = " &";

// A name too long for either flash command line would be cut, losing the
// redirection and the "&" or even validating one file and flashing another,
// so an HTTP start refuses it whole.
constexpr size_t kMaxFlashNameLen = std::min(toolMaxFileNameLen(kFlashValidateTool),
                                             toolMaxFileNameLen(kFlashUpgradeTool, kInBackground));
static_assert(kMaxFlashNameLen == 82, "the documented limit of HTTP firmware names");

// The progress value read during a request's own call. The post-send call
// acts on it, so it must outlive the reply; it belongs to this handler alone.
char g_keptProgress[1024];

void readProgress() {
    g_keptProgress[0] = '\0';
    cfgGet(kSection, kProgress, g_keptProgress);
}

// Run by the shell directly, without the runner's tracing.
void runDirect(const char *command) {
    if (sysShell(command) == -1) {
        dbgPrint("cannot start: %s\n", command);
    }
}

// Download, validation and the start of the flash tool all happen before
// the reply: the event loop is blocked meanwhile.
void httpUpgrade(const TransferTarget &target) {
    cfgSet(kSection, kProgress, "Downloading file");
    enterTmp();
    httpDownload(target.address, target.fileName);
    cfgSet(kSection, kProgress, "Validating file");
    if (!sysValidateFirmware(target.fileName)) {
        cfgSet(kSection, kProgress, "Validation failed");
        return;
    }
    cfgSet(kSection, kProgress, "Upgrading firmware");
    runDirect("killall -2 mDNSResponderPosix");
    std::array<char, kToolCommandLen> flash;
    sysFormatToolCommand(flash, kFlashUpgradeTool, target.fileName, kInBackground);
    runDirect(flash.data());
}

// The device's upgrade tool does everything itself, in the background. The
// IPv6 line names it relative to the working directory, as the device does.
void tftpUpgrade(const TransferTarget &target) {
    if (target.uAddrType == wt::kAddrIpv4) {
        sysRunCommand("/splashbin/firmware-upgrade tftp://%s/%s &", target.address,
                      target.fileName);
    } else {
        sysRunCommand("splashbin/firmware-upgrade tftp://%s/%s &", target.address, target.fileName);
    }
}

void startUpgrade(std::span<const uint8_t> body, std::span<uint8_t> reply) {
    if (g_keptProgress[0] != '\0') {
        setTransferMessage(reply, "\"%s\" is under processing", g_keptProgress);
        return;
    }
    TransferTarget target;
    TargetCheck check = parseTransferTarget(body, target);
    // TFTP names go into the upgrade tool's 1024-byte command line instead.
    if (check == TargetCheck::Ok && target.uServerType == wt::kServerHttp &&
        strlen(target.fileName) > kMaxFlashNameLen) {
        check = TargetCheck::BadFileName;
    }
    if (check != TargetCheck::Ok) {
        refuseTarget(reply, check, target);
        return;
    }
    // From here on the reply reports success whatever the tools do.
    setTransferResult(reply, 0);
    if (target.uServerType == wt::kServerHttp) {
        httpUpgrade(target);
    } else {
        tftpUpgrade(target);
    }
}

void afterReply() {
    if (strcmp(g_keptProgress, "1") == 0) {
        cfgRequestReboot();
    } else if (strcmp(g_keptProgress, "2") == 0) {
        sysRunCommand("submit SHUTDOWN");
    }
}

}  // namespace

unsigned funcFirmwareUpgrade(const wire::message_t *pMsg,
                             std::span<const uint8_t> body,
                             std::span<uint8_t> pRetMsg) {
    dbgPrint("FUNC:%s...\n", __func__);
    if (pMsg == nullptr) {
        afterReply();
        return 0;
    }
    if (pRetMsg.size() < kTransferReplyLen) {
        return 0;
    }
    std::span<uint8_t> reply = transferReplyBody(pRetMsg);
    readProgress();
    const uint8_t sst = transferSubService(body);
    switch (sst) {
    case wt::SST_CONFIG:
        startUpgrade(body, reply);
        break;
    case wt::SST_QUERY:
        readProgress();
        setTransferResult(reply, 2);
        break;
    default:
        setTransferMessage(reply, "Invalid sub-service type %u", sst);
        break;
    }
    return finishTransferReply(*pMsg, body, pRetMsg);
}
