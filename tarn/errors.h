// Failures of the utility and the exit status each one ends with.
#pragma once

#include <stdexcept>
#include <string>

namespace tarn {

enum ExitCode : int {
    kExitOk = 0,
    kExitRefused = 1,  // the device answered but refused or reported a failure
    kExitUsage = 2,    // the command line or the local environment is wrong
    kExitNoReply = 3,  // nothing answered in time
};

class Error : public std::runtime_error {
public:
    Error(ExitCode code, const std::string &message) : std::runtime_error(message), code_(code) {}
    ExitCode code() const { return code_; }

private:
    ExitCode code_;
};

struct UsageError : Error {
    explicit UsageError(const std::string &message) : Error(kExitUsage, message) {}
};

struct RefusedError : Error {
    explicit RefusedError(const std::string &message) : Error(kExitRefused, message) {}
};

struct NoReplyError : Error {
    explicit NoReplyError(const std::string &message) : Error(kExitNoReply, message) {}
};

}  // namespace tarn
