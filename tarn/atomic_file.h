// Replacing a file whole: the content goes to a temporary file beside it,
// reaches the disk, and is renamed over the target, so that a reader, a
// crash or a power cut finds the old file or the new one, never a part.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string_view>

namespace tarn {

struct ReplaceResult {
    int error = 0;         // 0, or the errno of the step that failed
    bool created = false;  // whether the temporary file could be made
};

// Writes `content` to `path` with `mode` (less the umask). On failure the
// temporary file is gone and `path` is as it was. The temporary is hidden
// beside the target, under a random name.
ReplaceResult replaceFile(const std::filesystem::path &path, std::string_view content, mode_t mode);

}  // namespace tarn
