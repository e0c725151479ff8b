// Running other device programs without a shell: arguments that come from
// a URL or a file name reach the program as they are, never as shell text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace devproc {

// Each returns the program's exit code, or -1 when it could not be started
// or did not exit normally. The program is looked up in PATH.
int run(const std::vector<std::string> &argv);
// Collects the program's standard output into `output`.
int runCapture(const std::vector<std::string> &argv, std::string &output);
// Feeds `input` to the program's standard input.
int runFeed(const std::vector<std::string> &argv, std::string_view input);

}  // namespace devproc
