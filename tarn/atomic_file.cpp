#include "atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace tarn {

ReplaceResult replaceFile(const std::filesystem::path &path,
                          std::string_view content,
                          mode_t mode) {
    const std::filesystem::path temp = path.parent_path() / ("." + path.filename().string() + "." +
                                                             std::to_string(getpid()) + ".partial");
    // Whatever a crashed process of the same id left there goes first: a
    // link could point the write anywhere, and an old file keeps its mode.
    unlink(temp.c_str());
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0)
        return {errno, false};
    int why = 0;
    size_t done = 0;
    while (done < content.size() && why == 0) {
        const ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n == 0 || errno != EINTR)
            why = n == 0 ? EIO : errno;
    }
    if (why == 0 && fsync(fd) != 0)
        why = errno;
    if (close(fd) != 0 && why == 0)
        why = errno;
    if (why == 0 && rename(temp.c_str(), path.c_str()) != 0)
        why = errno;
    if (why != 0)
        unlink(temp.c_str());
    return {why, true};
}

}  // namespace tarn
