// A command's options and arguments in the order the command line gave
// them, as the parser (cmdline.h) found them; commands take what they use,
// and whatever is left over is a usage error.
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
    struct Item {
        enum class Kind { option, argument, unknown };
        Kind kind;
        std::string name;   // an option's long name; otherwise the word as given
        std::string value;  // an option's value; empty for a switch
        std::string typed;  // the token as typed, which a refusal quotes
    };

    Args() = default;
    // `declared`: every name of the options the parser knew, which are the
    // only ones a command may ask for.
    Args(std::vector<Item> items, std::vector<std::string> declared)
        : items_(std::move(items)), declared_(std::move(declared)) {}

    // Options are asked for by their long name ("--yes"), which the parser
    // gives every item whatever name was typed.
    // Takes a switch given anywhere.
    bool flag(std::string_view name);
    // Takes an option's value; given twice, it is a usage error.
    std::optional<std::string> value(std::string_view name);
    // Takes every occurrence, in order.
    std::vector<std::string> values(std::string_view name);
    // One name per call: a braced pair of names would otherwise compile as
    // string_view's pointer range and ask for garbage.
    bool flag(std::initializer_list<std::string_view>) = delete;
    std::optional<std::string> value(std::initializer_list<std::string_view>) = delete;
    std::vector<std::string> values(std::initializer_list<std::string_view>) = delete;
    // Takes the first argument that is not an option.
    std::optional<std::string> positional();
    std::string positional(std::string_view what);  // required
    // Throws UsageError naming the first item nobody took.
    void finish() const;
    bool empty() const { return items_.empty(); }

private:
    std::vector<Item> take(std::string_view name);

    std::vector<Item> items_;
    std::vector<std::string> declared_;
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
// Seconds from `start` until now, and the same cut to whole seconds for
// the progress lines and reports that show no fraction.
double secondsSince(std::chrono::steady_clock::time_point start);
long wholeSecondsSince(std::chrono::steady_clock::time_point start);

}  // namespace tarn
