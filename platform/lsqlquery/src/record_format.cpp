#include "record_format.h"

#include <array>
#include <optional>

#include "escape.h"

namespace lsq {
namespace {

constexpr std::string_view kAbsent = "-";
constexpr size_t kDumpFields = 5;

std::string objectField(const std::string &object) {
    return object.empty() ? std::string(kAbsent) : escapeField(object);
}

std::string qualifierField(const Setting &s) {
    if (s.qkey.empty())
        return std::string(kAbsent);
    return escapeField(s.qkey) + "=" + escapeField(s.qvalue);
}

std::string settingFields(const Setting &s) {
    return escapeField(s.section) + "\t" + objectField(s.object) + "\t" + qualifierField(s) + "\t" +
           escapeField(s.key) + "\t" + escapeField(s.value);
}

// Splits `line` into exactly N tab-separated fields.
template <size_t N>
bool splitFields(std::string_view line, std::array<std::string_view, N> &fields) {
    for (size_t i = 0; i + 1 < N; ++i) {
        size_t tab = line.find('\t');
        if (tab == std::string_view::npos)
            return false;
        fields[i] = line.substr(0, tab);
        line.remove_prefix(tab + 1);
    }
    fields[N - 1] = line;
    return line.find('\t') == std::string_view::npos;
}

bool unescapeInto(std::string_view field, std::string &out) {
    std::optional<std::string> text = unescapeField(field);
    if (!text)
        return false;
    out = std::move(*text);
    return true;
}

bool parseQualifier(std::string_view field, Setting &out) {
    if (field == kAbsent)
        return true;
    size_t eq = field.find('=');
    if (eq == std::string_view::npos || eq == 0)
        return false;
    return unescapeInto(field.substr(0, eq), out.qkey) &&
           unescapeInto(field.substr(eq + 1), out.qvalue);
}

}  // namespace

std::string formatDumpLine(const Setting &s) {
    return settingFields(s);
}

std::string formatJournalLine(const JournalEntry &e) {
    return std::to_string(e.seq) + "\t" + escapeField(e.writer) + "\t" + settingFields(e.setting) +
           "\t" + escapeField(e.result);
}

bool parseDumpLine(std::string_view line, Setting &out, std::string &error) {
    std::array<std::string_view, kDumpFields> f;
    out = Setting{};
    if (!splitFields(line, f)) {
        error = "expected 5 tab-separated fields";
        return false;
    }
    if (f[0].empty() || f[3].empty()) {
        error = "empty section or key";
        return false;
    }
    bool ok = unescapeInto(f[0], out.section) &&
              (f[1] == kAbsent || unescapeInto(f[1], out.object)) && parseQualifier(f[2], out) &&
              unescapeInto(f[3], out.key) && unescapeInto(f[4], out.value);
    if (!ok)
        error = "bad escape or qualifier (expected QKEY=QVALUE or -)";
    return ok;
}

}  // namespace lsq
