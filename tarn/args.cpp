#include "args.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>
#include <stdexcept>

#include "errors.h"

namespace tarn {

std::vector<Args::Item> Args::take(std::string_view name) {
    // A short name would never match, and an option missing from the
    // command's usage line would have been read as an unknown option and
    // its value as an argument.
    if (!name.starts_with("--"))
        throw std::logic_error(std::string(name) +
                               " is asked for by a short name, not its long one.");
    if (std::find(declared_.begin(), declared_.end(), name) == declared_.end())
        throw std::logic_error(std::string(name) +
                               " is asked for but missing from the command's usage.");
    std::vector<Item> taken;
    const auto named = [&](const Item &item) {
        return item.kind == Item::Kind::option && item.name == name;
    };
    std::copy_if(items_.begin(), items_.end(), std::back_inserter(taken), named);
    std::erase_if(items_, named);
    return taken;
}

bool Args::flag(std::string_view name) {
    return !take(name).empty();
}

std::vector<std::string> Args::values(std::string_view name) {
    std::vector<std::string> out;
    for (Item &item : take(name))
        out.push_back(std::move(item.value));
    return out;
}

std::optional<std::string> Args::value(std::string_view name) {
    std::vector<std::string> all = values(name);
    if (all.size() > 1)
        throw UsageError(std::string(name) + " is given more than once.");
    if (all.empty())
        return std::nullopt;
    return all.front();
}

std::optional<std::string> Args::positional() {
    const auto at = std::find_if(items_.begin(), items_.end(), [](const Item &item) {
        return item.kind == Item::Kind::argument;
    });
    if (at == items_.end())
        return std::nullopt;
    std::string word = std::move(at->name);
    items_.erase(at);
    return word;
}

std::string Args::positional(std::string_view what) {
    std::optional<std::string> v = positional();
    if (!v)
        throw UsageError("missing " + std::string(what) + ".");
    return *v;
}

void Args::finish() const {
    if (items_.empty())
        return;
    // After "--" a word that begins with - is an argument all the same.
    const Item &first = items_.front();
    throw UsageError(
        (first.kind == Item::Kind::argument ? "unexpected argument \"" : "unknown option \"") +
        first.typed + "\"; see --help.");
}

double parseSeconds(const std::string &text, std::string_view what) {
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v) || v < 0)
        throw UsageError(std::string(what) + " takes a number of seconds, not \"" + text + "\".");
    if (v > kLongestSeconds)
        throw UsageError(std::string(what) + " takes at most " +
                         std::to_string(static_cast<long>(kLongestSeconds)) +
                         " seconds (a year), not \"" + text + "\".");
    return v;
}

long parseInteger(const std::string &text, std::string_view what, long min, long max) {
    long v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < min || v > max)
        throw UsageError(std::string(what) + " takes a whole number from " + std::to_string(min) +
                         " to " + std::to_string(max) + ", not \"" + text + "\".");
    return v;
}

std::chrono::steady_clock::duration secondsDuration(double seconds) {
    const double clamped = seconds > 0 ? std::min(seconds, kLongestSeconds) : 0;
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(clamped));
}

std::chrono::steady_clock::time_point deadlineIn(double seconds) {
    return std::chrono::steady_clock::now() + secondsDuration(seconds);
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long wholeSecondsSince(std::chrono::steady_clock::time_point start) {
    return static_cast<long>(secondsSince(start));
}

}  // namespace tarn
