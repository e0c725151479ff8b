#include "args.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "errors.h"

namespace tarn {

bool Args::flag(std::string_view name) {
    bool found = false;
    for (auto it = tokens_.begin(); it != tokens_.end();) {
        if (*it == name) {
            it = tokens_.erase(it);
            found = true;
        } else {
            ++it;
        }
    }
    return found;
}

std::vector<std::string> Args::values(std::string_view name) {
    std::vector<std::string> out;
    const std::string prefix = std::string(name) + "=";
    for (auto it = tokens_.begin(); it != tokens_.end();) {
        if (*it == name) {
            if (it + 1 == tokens_.end())
                throw UsageError(std::string(name) + " needs a value.");
            out.push_back(*(it + 1));
            it = tokens_.erase(it, it + 2);
        } else if (it->starts_with(prefix) && name.starts_with("--")) {
            out.push_back(it->substr(prefix.size()));
            it = tokens_.erase(it);
        } else {
            ++it;
        }
    }
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
    for (auto it = tokens_.begin(); it != tokens_.end(); ++it) {
        if (*it == "--") {
            if (it + 1 == tokens_.end())
                return std::nullopt;
            std::string v = *(it + 1);
            tokens_.erase(it + 1);
            return v;
        }
        if (it->empty() || (*it)[0] != '-' || *it == "-") {
            std::string v = *it;
            tokens_.erase(it);
            return v;
        }
    }
    return std::nullopt;
}

std::string Args::positional(std::string_view what) {
    std::optional<std::string> v = positional();
    if (!v)
        throw UsageError("missing " + std::string(what) + ".");
    return *v;
}

void Args::finish() const {
    for (const std::string &t : tokens_) {
        if (t == "--")
            continue;
        throw UsageError((t.starts_with("-") ? "unknown option " : "unexpected argument ") +
                         std::string("\"") + t + "\"; see --help.");
    }
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

}  // namespace tarn
