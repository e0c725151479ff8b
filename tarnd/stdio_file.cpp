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
    struct stat st {};
    const bool usable = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && fchmod(fd, mode) == 0 &&
                        ftruncate(fd, 0) == 0 && fcntl(fd, F_SETFL, 0) == 0;
    File file(usable ? fdopen(fd, "w") : nullptr);
    if (!file)
        close(fd);
    return file;
}
