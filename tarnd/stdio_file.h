// A stdio stream owned by its scope: closed however the scope is left.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <memory>

struct FileClose {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileClose>;

// Opens `path` for writing from its start, created with `mode` (an existing
// file is given that mode too), close-on-exec. The daemon runs as root and
// writes into folders that others may reach, so a symbolic link at `path` is
// never followed, and an entry that is not a regular file (a FIFO, a device,
// a folder), a file owned by another user or a file with more than one name
// (a hard link) is refused, left as it is: null, as for any other failure.
File createRegularFile(const char *path, mode_t mode);
