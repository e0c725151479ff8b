// Files the daemon writes as root into folders that others may reach. The
// checks run on the descriptor actually opened, so nothing can be swapped in
// between a check and the write.
#include "stdio_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

File createRegularFile(const char *path, mode_t mode) {
    // O_NONBLOCK: opening a FIFO must not wait for a reader before the type
    // check refuses it. No O_TRUNC before that check either.
    const int fd = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
    if (fd < 0)
        return nullptr;
    // A file another user made in advance stays theirs whatever mode we give
    // it, and a hard link writes into the file it shares with another name:
    // only a regular file of our own with a single name is ours to fill.
    struct stat st {};
    const bool ours =
        fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() && st.st_nlink == 1;
    const bool usable =
        ours && fchmod(fd, mode) == 0 && ftruncate(fd, 0) == 0 && fcntl(fd, F_SETFL, 0) == 0;
    File file(usable ? fdopen(fd, "w") : nullptr);
    if (!file)
        close(fd);
    return file;
}
