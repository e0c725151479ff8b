#include "credentials.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

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

std::string readSecretFile(const std::string &path) {
    std::ifstream in(path);
    if (!in)
        throw UsageError("cannot read the password file " + path + ".");
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

std::string promptSecret(const std::string &prompt) {
    Fd tty(open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY));
    if (tty.get() < 0)
        throw UsageError("a password is needed: set TARN_PASSWORD, use --password-file, or run "
                         "tarn on a terminal.");
    writeAll(tty.get(), prompt);
    std::string answer;
    {
        EchoOff quiet(tty.get());
        char c = 0;
        // A password line is short; stop at a sane length.
        while (answer.size() < 1024 && read(tty.get(), &c, 1) == 1 && c != '\n')
            answer += c;
    }
    writeAll(tty.get(), "\n");
    return answer;
}

Credentials loadCredentials(const std::string &user, const std::string &passwordFile) {
    Credentials cred;
    cred.user = user;
    const char *env = std::getenv("TARN_PASSWORD");
    if (!passwordFile.empty())
        cred.password = readSecretFile(passwordFile);
    else if (env != nullptr)
        cred.password = env;
    else
        cred.password = promptSecret("Password for " + user + ": ");
    checkCredentialLength("user name", cred.user);
    checkCredentialLength("password", cred.password);
    return cred;
}

}  // namespace tarn
