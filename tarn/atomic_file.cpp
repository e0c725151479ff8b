#include "atomic_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tarn {

namespace {

// A name beside `path` that no other writer can guess, created exclusively:
// another user of a shared folder cannot plant a file or a link there, and
// two writers of the same target never share a temporary.
int createTemporary(const std::filesystem::path &path, mode_t mode, std::filesystem::path &temp) {
    for (int attempt = 0; attempt < 8; attempt++) {
        uint64_t nonce = 0;
        if (getrandom(&nonce, sizeof nonce, 0) != static_cast<ssize_t>(sizeof nonce))
            return -1;
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, ".%016llx", static_cast<unsigned long long>(nonce));
        temp = path.parent_path() / ("." + path.filename().string() + suffix + ".partial");
        const int fd =
            open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

}  // namespace

ReplaceResult replaceFile(const std::filesystem::path &path,
                          std::string_view content,
                          mode_t mode) {
    std::filesystem::path temp;
    const int fd = createTemporary(path, mode, temp);
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
