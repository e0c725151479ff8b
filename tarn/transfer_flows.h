// The transfer flows that the fleet commands (backup, restore) share with
// tarn config: a backup into a folder through tarn's own TFTP server, and a
// restore of a file that tarn serves itself.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "args.h"
#include "session.h"

namespace tarn {

// Has the target upload its configuration into `dir`, where it arrives as
// backupFileName(MAC); returns that name once the file is complete. Throws
// with the reason when it does not arrive (a full disk, a silent device).
std::string backupInto(Session &s, const std::filesystem::path &dir);

// Restores `content` to the target, served as `name` (by TFTP, or HTTP with
// --by http), with the checks and the follow-up of tarn config restore; takes
// --by, --wait-timeout and --force from `a`.
int restoreContent(Session &s,
                   Args &a,
                   const std::string &name,
                   std::shared_ptr<const std::string> content);

}  // namespace tarn
