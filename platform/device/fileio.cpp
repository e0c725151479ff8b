#include "fileio.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

namespace devio {

namespace {

class FdGuard {
public:
    explicit FdGuard(int fd) : fd_(fd) {}
    FdGuard(const FdGuard &) = delete;
    FdGuard &operator=(const FdGuard &) = delete;
    ~FdGuard() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    int get() const { return fd_; }
    // Closes now and reports whether the data reached the file.
    bool closeChecked() { return close(std::exchange(fd_, -1)) == 0; }

private:
    int fd_;
};

}  // namespace

std::optional<std::vector<uint8_t>> readFile(const std::string &path) {
    FdGuard fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        return std::nullopt;
    }
    std::vector<uint8_t> data;
    uint8_t buf[65536];
    for (;;) {
        const ssize_t n = read(fd.get(), buf, sizeof buf);
        if (n == 0) {
            return data;
        }
        if (n < 0 && errno != EINTR) {
            return std::nullopt;
        }
        if (n > 0) {
            data.insert(data.end(), buf, buf + n);
        }
    }
}

bool writeFile(const std::string &path, std::span<const uint8_t> data) {
    const std::string tmp = path + ".new";
    FdGuard fd(open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.get() < 0) {
        return false;
    }
    while (!data.empty()) {
        const ssize_t n = write(fd.get(), data.data(), data.size());
        if (n < 0 && errno != EINTR) {
            unlink(tmp.c_str());
            return false;
        }
        if (n > 0) {
            data = data.subspan(static_cast<size_t>(n));
        }
    }
    if (fsync(fd.get()) != 0 || !fd.closeChecked()) {
        unlink(tmp.c_str());
        return false;
    }
    return rename(tmp.c_str(), path.c_str()) == 0;
}

}  // namespace devio
