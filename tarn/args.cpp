#include "args.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "errors.h"

namespace tarn {

namespace {

bool isShort(std::string_view name) {
    return name.size() == 2 && name[0] == '-' && name[1] != '-';
}

}  // namespace

bool Args::flag(std::string_view name) {
    return flag({name});
}

bool Args::flag(std::initializer_list<std::string_view> names) {
    bool found = false;
    for (auto it = tokens_.begin(); it != tokens_.end();) {
        if (!it->empty() && std::find(names.begin(), names.end(), *it) != names.end()) {
            it = tokens_.erase(it);
            found = true;
        } else {
            ++it;
        }
    }
    return found;
}

std::vector<std::string> Args::values(std::string_view name) {
    return values({name});
}

std::vector<std::string> Args::values(std::initializer_list<std::string_view> names) {
    std::vector<std::string> out;
    for (auto it = tokens_.begin(); it != tokens_.end();) {
        bool taken = false;
        for (std::string_view name : names) {
            if (name.empty())
                continue;
            const std::string &t = *it;
            if (t == name) {
                if (it + 1 == tokens_.end())
                    throw UsageError(std::string(name) + " needs a value.");
                out.push_back(*(it + 1));
                it = tokens_.erase(it, it + 2);
            } else if (isShort(name) && t.size() > 2 && t.starts_with(name)) {
                out.push_back(t.substr(2));
                it = tokens_.erase(it);
            } else if (!isShort(name) && t.size() > name.size() && t.starts_with(name) &&
                       t[name.size()] == '=') {
                out.push_back(t.substr(name.size() + 1));
                it = tokens_.erase(it);
            } else {
                continue;
            }
            taken = true;
            break;
        }
        if (!taken)
            ++it;
    }
    return out;
}

std::optional<std::string> Args::value(std::string_view name) {
    return value({name});
}

std::optional<std::string> Args::value(std::initializer_list<std::string_view> names) {
    std::vector<std::string> all = values(names);
    if (all.size() > 1)
        throw UsageError(std::string(*names.begin()) + " is given more than once.");
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
