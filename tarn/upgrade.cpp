#include "upgrade.h"

#include "announcements.h"
#include "args.h"
#include "errors.h"
#include "records.h"
#include "serving.h"

namespace tarn {

namespace {

using namespace std::chrono_literals;

// A start is answered only after the work the device does first: an HTTP
// firmware download and its validation, or a backup's dump and upload.
constexpr double kStartPatience = 120;

// The upgrade's progress text, which no query carries: a start request
// without a valid server type is refused without running anything, and
// while a progress is set the refusal names it ("\"Validating file\" is
// under processing"). Empty when the device is idle, nothing when it did
// not answer.
std::optional<std::string> upgradeProgress(Session &s) {
    const std::optional<Reply> r =
        s.callOnce(wire::OP_FIRMWARE_UPGRADE, transferStartBody(0, Server{}, ""));
    if (!r)
        return std::nullopt;
    const std::string message = parseTransfer(r->body).message;
    constexpr std::string_view kBusy = "\" is under processing";
    if (message.size() > kBusy.size() + 1 && message.front() == '"' && message.ends_with(kBusy))
        return message.substr(1, message.size() - kBusy.size() - 1);
    return std::string();
}

std::string stageText(const std::optional<std::string> &progress) {
    if (!progress)
        return "the device is restarting";
    if (*progress == "1")
        return "flashed, restarting";
    if (*progress == "2")
        return "shutting down";
    return progress->empty() ? "starting" : *progress;
}

}  // namespace

TransferStatus sendStart(Session &s,
                         uint16_t op,
                         uint8_t serverType,
                         const Server &server,
                         const std::string &file,
                         const std::string &what) {
    TransferStatus st = parseTransfer(
        s.start(op, transferStartBody(serverType, server, file), kStartPatience).body);
    if (st.result != 0)
        throw RefusedError(formatMac(s.target().info.mac) + " refused " + what + ": " +
                           resultText(st) + ".");
    return st;
}

UpgradeResult followUpgrade(Session &s,
                            Transport &announcements,
                            Clock::time_point deadline,
                            const UpgradeWatcher &watch) {
    const Found dev = s.target();
    const auto start = Clock::now();
    const auto result = [&](UpgradeEnd end, const std::string &firmware) {
        if (end == UpgradeEnd::NewFirmware && firmware == dev.info.firmware)
            end = UpgradeEnd::SameFirmware;
        return UpgradeResult{end, dev.info.firmware, firmware, secondsSince(start)};
    };
    bool busy = false;
    while (Clock::now() < deadline) {
        const std::optional<std::string> p = upgradeProgress(s);
        // The device keeps this progress, and refuses every new start,
        // until it restarts.
        if (p && *p == "Validation failed")
            return result(UpgradeEnd::Refused, dev.info.firmware);
        if (p && busy && p->empty())
            // The progress is cleared at boot: the device restarted.
            return result(UpgradeEnd::NewFirmware, s.rediscover().info.firmware);
        busy = busy || (p && !p->empty());
        watch(stageText(p), wholeSecondsSince(start));
        const auto wake = std::min(deadline, Clock::now() + 2s);
        while (std::optional<Heard> h = waitForDevice(announcements, dev.info.mac, wake))
            if (h->announcement.firmware != dev.info.firmware)
                return result(UpgradeEnd::NewFirmware, h->announcement.firmware);
    }
    return result(UpgradeEnd::Lost, dev.info.firmware);
}

std::string refusedImageText(const std::string &mac) {
    return mac +
           " refused the firmware image (\"Validation failed\") and refuses every further "
           "upgrade until it restarts; restart it with tarn -d " +
           mac + " reboot.";
}

}  // namespace tarn
