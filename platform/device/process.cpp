#include "process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace devproc {

namespace {

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    Fd(Fd &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd &operator=(Fd &&other) noexcept {
        reset();
        fd_ = std::exchange(other.fd_, -1);
        return *this;
    }
    ~Fd() { reset(); }
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) {
            close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_ = -1;
};

struct Pipe {
    Fd read;
    Fd write;
};

bool makePipe(Pipe &p) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return false;
    }
    p.read = Fd(fds[0]);
    p.write = Fd(fds[1]);
    return true;
}

class FileActions {
public:
    FileActions() { posix_spawn_file_actions_init(&actions_); }
    FileActions(const FileActions &) = delete;
    FileActions &operator=(const FileActions &) = delete;
    ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
    posix_spawn_file_actions_t *get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

// Starts argv with `childFd` (when >= 0) as its descriptor `target`.
pid_t start(const std::vector<std::string> &argv, int childFd, int target) {
    std::vector<char *> args;
    args.reserve(argv.size() + 1);
    for (const std::string &a : argv) {
        args.push_back(const_cast<char *>(a.c_str()));
    }
    args.push_back(nullptr);
    FileActions actions;
    if (childFd >= 0 && posix_spawn_file_actions_adddup2(actions.get(), childFd, target) != 0) {
        return -1;
    }
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], actions.get(), nullptr, args.data(), environ) != 0) {
        return -1;
    }
    return pid;
}

int finish(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int run(const std::vector<std::string> &argv) {
    const pid_t pid = start(argv, -1, -1);
    return pid < 0 ? -1 : finish(pid);
}

int runCapture(const std::vector<std::string> &argv, std::string &output) {
    Pipe p;
    if (!makePipe(p)) {
        return -1;
    }
    const pid_t pid = start(argv, p.write.get(), STDOUT_FILENO);
    p.write.reset();
    if (pid < 0) {
        return -1;
    }
    char buf[4096];
    ssize_t n;
    while ((n = read(p.read.get(), buf, sizeof buf)) != 0) {
        if (n < 0 && errno != EINTR) {
            break;
        }
        if (n > 0) {
            output.append(buf, static_cast<size_t>(n));
        }
    }
    return finish(pid);
}

int runFeed(const std::vector<std::string> &argv, std::string_view input) {
    Pipe p;
    if (!makePipe(p)) {
        return -1;
    }
    const pid_t pid = start(argv, p.read.get(), STDIN_FILENO);
    p.read.reset();
    if (pid < 0) {
        return -1;
    }
    while (!input.empty()) {
        const ssize_t n = write(p.write.get(), input.data(), input.size());
        if (n < 0 && errno != EINTR) {
            break;
        }
        if (n > 0) {
            input.remove_prefix(static_cast<size_t>(n));
        }
    }
    p.write.reset();
    return finish(pid);
}

}  // namespace devproc
