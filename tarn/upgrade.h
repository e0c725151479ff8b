// A firmware upgrade of one device, started and followed to its end: the
// step that `firmware upgrade` takes once and a rollout takes per device.
#pragma once

#include <functional>
#include <string>

#include "session.h"

namespace tarn {

// Sends the start of a transfer from `server` once, never again (each copy
// would start the work anew); throws RefusedError naming `what` when the
// device refuses it.
TransferStatus sendStart(Session &s,
                         uint16_t op,
                         uint8_t serverType,
                         const Server &server,
                         const std::string &file,
                         const std::string &what);

enum class UpgradeEnd {
    NewFirmware,   // back with another version than before
    SameFirmware,  // restarted with the version it ran before
    Refused,       // "Validation failed": the device refused the image
    Lost,          // not back before the deadline
};

struct UpgradeResult {
    UpgradeEnd end;
    std::string oldFirmware;
    std::string firmware;  // the version it came back with
    double seconds;        // from the start of the follow to its end
};

// Told each stage as it is seen ("Downloading file", "flashed, restarting",
// "the device is restarting") with the seconds since the follow began.
using UpgradeWatcher = std::function<void(const std::string &stage, long seconds)>;

// Follows a started upgrade by its progress and the device's announcements
// (`announcements` must listen since before the start) until the device is
// back, refuses the image, or `deadline` passes.
UpgradeResult followUpgrade(Session &s,
                            Transport &announcements,
                            Clock::time_point deadline,
                            const UpgradeWatcher &watch);

// The sentence for a refused image: what it means and how to clear it.
std::string refusedImageText(const std::string &mac);

}  // namespace tarn
