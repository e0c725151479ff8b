// The command line as a list of tokens that commands take options and
// arguments from; whatever is left over is a usage error.
#pragma once

#include <chrono>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarn {

class Args {
public:
    explicit Args(std::vector<std::string> tokens) : tokens_(std::move(tokens)) {}

    // Takes a switch given anywhere, under any of its names.
    bool flag(std::string_view name);
    bool flag(std::initializer_list<std::string_view> names);
    // Takes "--name VALUE" or "--name=VALUE" given anywhere; a short name
    // also takes its value attached ("-d192.0.2.12").
    std::optional<std::string> value(std::string_view name);
    std::optional<std::string> value(std::initializer_list<std::string_view> names);
    // Takes every occurrence, in order.
    std::vector<std::string> values(std::string_view name);
    std::vector<std::string> values(std::initializer_list<std::string_view> names);
    // Takes the first argument that is not an option.
    std::optional<std::string> positional();
    std::string positional(std::string_view what);  // required
    // Throws UsageError naming the first token nobody took.
    void finish() const;
    bool empty() const { return tokens_.empty(); }
    // What nobody has taken yet, in order.
    const std::vector<std::string> &remaining() const { return tokens_; }

private:
    std::vector<std::string> tokens_;
};

// The longest time any option takes: a year, so that every threshold and
// deadline fits the steady clock's 64-bit nanoseconds with room to spare.
inline constexpr double kLongestSeconds = 366.0 * 24 * 3600;

// Number parsing with usage errors that name the option. Seconds are
// from 0 to kLongestSeconds.
double parseSeconds(const std::string &text, std::string_view what);
long parseInteger(const std::string &text, std::string_view what, long min, long max);

// Seconds as a steady-clock duration, clamped to 0..kLongestSeconds: the
// one conversion, so that no value overflows the clock.
std::chrono::steady_clock::duration secondsDuration(double seconds);
// Now plus that many seconds, clamped likewise.
std::chrono::steady_clock::time_point deadlineIn(double seconds);

}  // namespace tarn
