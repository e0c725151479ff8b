#include "credentials.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "errors.h"

namespace tarn {

namespace {

// Restores the terminal's echo however the prompt ends.
class EchoOff {
public:
    explicit EchoOff(int fd) : fd_(fd) {
        if (tcgetattr(fd_, &saved_) != 0)
            throw UsageError("cannot read the terminal settings to ask for a password.");
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        if (tcsetattr(fd_, TCSAFLUSH, &quiet) != 0)
            throw UsageError("cannot switch off the terminal echo to ask for a password.");
    }
    ~EchoOff() { tcsetattr(fd_, TCSAFLUSH, &saved_); }
    EchoOff(const EchoOff &) = delete;
    EchoOff &operator=(const EchoOff &) = delete;

private:
    int fd_;
    termios saved_{};
};

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            close(fd_);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

void writeAll(int fd, const std::string &text) {
    // A prompt that cannot be shown still lets the user type the answer.
    if (write(fd, text.data(), text.size()) < 0)
        return;
}

}  // namespace

void checkCredentialLength(const std::string &what, const std::string &text) {
    if (text.size() > kMaxCredentialText)
        throw UsageError("the " + what + " is longer than " + std::to_string(kMaxCredentialText) +
                         " bytes, which the device's credential field cannot carry.");
}

std::string readSecretFile(const std::string &path, std::string_view what) {
    errno = 0;
    std::unique_ptr<FILE, int (*)(FILE *)> in(std::fopen(path.c_str(), "re"), std::fclose);
    std::string line;
    if (in) {
        int c = 0;
        while ((c = std::fgetc(in.get())) != EOF && c != '\n')
            line += static_cast<char>(c);
    }
    // A folder opens but does not read.
    if (!in || std::ferror(in.get()))
        throw UsageError("cannot read the " + std::string(what) + " file " + path + ": " +
                         std::strerror(errno != 0 ? errno : EIO) + ".");
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

std::string promptSecret(const std::string &prompt, const SecretSource &source) {
    Fd tty(open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY));
    if (tty.get() < 0)
        throw UsageError(
            "a " + std::string(source.what) + " is needed: " +
            (source.environment.empty() ? "" : "set " + std::string(source.environment) + ", ") +
            "use " + (source.option.empty() ? "" : std::string(source.option) + " or ") +
            std::string(source.fileOption) + ", or run tarn on a terminal.");
    writeAll(tty.get(), prompt);
    std::string answer;
    {
        EchoOff quiet(tty.get());
        char c = 0;
        // A secret line is short; stop at a sane length.
        while (answer.size() < 1024 && read(tty.get(), &c, 1) == 1 && c != '\n')
            answer += c;
    }
    writeAll(tty.get(), "\n");
    return answer;
}

std::string promptNewSecret(const SecretSource &source) {
    const std::string what(source.what);
    std::string first = promptSecret("New " + what + ": ", source);
    if (promptSecret("Repeat the new " + what + ": ", source) != first)
        throw UsageError("the two new " + what + "s differ; nothing was changed.");
    return first;
}

namespace {

std::optional<std::string> fileOrEnvironment(const SecretSource &source,
                                             const std::optional<std::string> &file) {
    if (file)
        return readSecretFile(*file, source.what);
    if (source.environment.empty())
        return std::nullopt;
    if (const char *env = std::getenv(std::string(source.environment).c_str()))
        return env;
    return std::nullopt;
}

}  // namespace

std::string readSecret(const SecretSource &source,
                       const std::optional<std::string> &file,
                       const std::string &prompt) {
    std::optional<std::string> secret = fileOrEnvironment(source, file);
    return secret ? *secret : promptSecret(prompt, source);
}

std::optional<std::string> givenSecret(const SecretSource &source,
                                       const std::optional<std::string> &given,
                                       const std::optional<std::string> &file) {
    if (given && file)
        throw UsageError(std::string(source.option) + " and " + std::string(source.fileOption) +
                         " exclude each other.");
    if (given)
        return *given;
    return fileOrEnvironment(source, file);
}

std::string readNewSecret(const SecretSource &source,
                          const std::optional<std::string> &given,
                          const std::optional<std::string> &file) {
    std::optional<std::string> secret = givenSecret(source, given, file);
    return secret ? *secret : promptNewSecret(source);
}

Credentials loadCredentials(const std::string &user, const std::string &passwordFile) {
    Credentials cred;
    cred.user = user;
    cred.password = readSecret(kPasswordSource,
                               passwordFile.empty() ? std::nullopt : std::optional(passwordFile),
                               "Password for " + user + ": ");
    checkCredentialLength("user name", cred.user);
    checkCredentialLength("password", cred.password);
    return cred;
}

}  // namespace tarn
