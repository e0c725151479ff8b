#include "output.h"

#include <locale.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include <nlohmann/json.hpp>

namespace tarn {

namespace {

// Length of the valid UTF-8 sequence at the start of `s`, or 0.
size_t utf8Sequence(std::string_view s) {
    const auto lead = static_cast<unsigned char>(s[0]);
    size_t len = 0;
    unsigned min = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        len = 2;
        min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        len = 3;
        min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        len = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (s.size() < len)
        return 0;
    unsigned cp = lead & (0x3Fu >> (len - 1));
    for (size_t i = 1; i < len; i++) {
        const auto c = static_cast<unsigned char>(s[i]);
        if ((c & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (c & 0x3Fu);
    }
    const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
    return cp < min || cp > 0x10FFFF || surrogate ? 0 : len;
}

// The code point of a valid sequence of `len` bytes.
unsigned codePoint(std::string_view seq) {
    unsigned cp = static_cast<unsigned char>(seq[0]) & (0x7Fu >> seq.size());
    for (size_t i = 1; i < seq.size(); i++)
        cp = (cp << 6) | (static_cast<unsigned char>(seq[i]) & 0x3Fu);
    return cp;
}

// C1 controls, which some terminals obey as escape sequences, the
// bidirectional marks, embeddings, overrides and isolates, which reorder the
// rest of a line, and the Unicode line and paragraph separators.
bool unsafeCodePoint(unsigned cp) {
    return (cp >= 0x80 && cp <= 0x9F) || cp == 0x061C || cp == 0x200E || cp == 0x200F ||
           cp == 0x2028 || cp == 0x2029 || (cp >= 0x202A && cp <= 0x202E) ||
           (cp >= 0x2066 && cp <= 0x2069);
}

// "\x1b" (two digits) or "\u202e" (four).
std::string hexEscape(char letter, unsigned value, int digits) {
    std::string out{'\\', letter};
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        out += "0123456789abcdef"[(value >> shift) & 0xFu];
    return out;
}

// Calls `each(bytes, valid)` with every character of `s`: an ASCII byte or
// a whole valid UTF-8 sequence (valid), or a single byte that is not part
// of one (not valid).
template <typename Each>
void forEachCharacter(std::string_view s, Each each) {
    for (size_t i = 0; i < s.size();) {
        const size_t len = static_cast<unsigned char>(s[i]) < 0x80 ? 1 : utf8Sequence(s.substr(i));
        each(s.substr(i, len == 0 ? 1 : len), len != 0);
        i += len == 0 ? 1 : len;
    }
}

std::string displayValue(const Field &f) {
    switch (f.kind) {
    case Field::Kind::Null:
        return "-";
    case Field::Kind::Bool:
        return f.value == "true" ? "yes" : "no";
    case Field::Kind::Text:
    case Field::Kind::Code:
        return terminalText(f.value);
    case Field::Kind::Number:
        return f.value;
    }
    return f.value;
}

// The member of a field, and of a code its number as "<key>_code".
void addMember(nlohmann::ordered_json &object, const Field &f) {
    switch (f.kind) {
    case Field::Kind::Text:
        object[f.key] = f.value;
        return;
    case Field::Kind::Code:
        object[f.key] = f.value;
        object[f.key + "_code"] = f.code;
        return;
    case Field::Kind::Number: {
        // An integer, or a decimal that may be nan or inf (printed null).
        int64_t whole = 0;
        const char *end = f.value.data() + f.value.size();
        if (const auto [at, ec] = std::from_chars(f.value.data(), end, whole);
            ec == std::errc() && at == end)
            object[f.key] = whole;
        else
            object[f.key] = std::strtod(f.value.c_str(), nullptr);
        return;
    }
    case Field::Kind::Bool:
        object[f.key] = f.value == "true";
        return;
    case Field::Kind::Null:
        object[f.key] = nullptr;
        return;
    }
}

// Every string made valid UTF-8 the way validUtf8 does it.
void replaceInvalidUtf8(nlohmann::ordered_json &value) {
    if (value.is_string())
        value = validUtf8(value.get_ref<const std::string &>());
    else if (value.is_structured())
        for (nlohmann::ordered_json &member : value)
            replaceInvalidUtf8(member);
}

const Field *findField(const Record &r, std::string_view key) {
    for (const Field &f : r)
        if (f.key == key)
            return &f;
    return nullptr;
}

}  // namespace

Field text(std::string key, std::string value) {
    return {std::move(key), std::move(value), Field::Kind::Text};
}

Field number(std::string key, int64_t value) {
    return {std::move(key), std::to_string(value), Field::Kind::Number};
}

std::string fixedDecimals(double value, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    return buf;
}

Field decimal(std::string key, double value, int decimals) {
    return {std::move(key), fixedDecimals(value, decimals), Field::Kind::Number};
}

Field boolean(std::string key, bool value) {
    return {std::move(key), value ? "true" : "false", Field::Kind::Bool};
}

Field null(std::string key) {
    return {std::move(key), "null", Field::Kind::Null};
}

Field coded(std::string key, int64_t code, std::string_view word) {
    return {std::move(key), std::string(word), Field::Kind::Code, code};
}

std::string terminalText(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    forEachCharacter(s, [&](std::string_view ch, bool valid) {
        const auto c = static_cast<unsigned char>(ch[0]);
        if (!valid)
            out += hexEscape('x', c, 2);
        else if (ch.size() > 1)
            out +=
                unsafeCodePoint(codePoint(ch)) ? hexEscape('u', codePoint(ch), 4) : std::string(ch);
        else if (c == '\\')
            out += "\\\\";  // so that a device's "\x1b" never reads as an escape
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (c < 0x20 || c == 0x7F)
            out += hexEscape('x', c, 2);
        else
            out += static_cast<char>(c);
    });
    return out;
}

size_t displayWidth(std::string_view s) {
    // wcwidth() knows the widths of the Unicode version of the C library;
    // the built-in C.UTF-8 locale makes them independent of the user's
    // locale. Without it every character counts as one column.
    static const locale_t utf8 =
        newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    const locale_t previous = utf8 ? uselocale(utf8) : static_cast<locale_t>(nullptr);
    size_t width = 0;
    forEachCharacter(s, [&](std::string_view ch, bool valid) {
        // A stray byte takes one column, as a replacement character would.
        const int w = utf8 && valid ? wcwidth(static_cast<wchar_t>(codePoint(ch))) : 1;
        width += w < 0 ? 1 : static_cast<size_t>(w);
    });
    if (utf8)
        uselocale(previous);
    return width;
}

std::string toJson(const Record &record) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const Field &f : record)
        addMember(object, f);
    return dumpJson(std::move(object));
}

std::string toJson(const std::vector<Record> &records) {
    if (records.empty())
        return "[]\n";
    std::string out = "[\n";
    for (size_t i = 0; i < records.size(); i++)
        out += "  " + toJson(records[i]) + (i + 1 < records.size() ? ",\n" : "\n");
    return out + "]\n";
}

std::string toLines(const Record &record) {
    size_t width = 0;
    for (const Field &f : record)
        width = std::max(width, f.key.size());
    std::string out;
    for (const Field &f : record) {
        out += f.key + ":" + std::string(width - f.key.size() + 1, ' ') + displayValue(f) + "\n";
    }
    return out;
}

std::string toTable(const std::vector<Record> &records, const std::vector<Column> &columns) {
    std::vector<std::vector<std::string>> cells;
    std::vector<size_t> widths;
    widths.reserve(columns.size());
    for (const Column &c : columns)
        widths.push_back(c.header.size());
    for (const Record &r : records) {
        std::vector<std::string> row;
        row.reserve(columns.size());
        for (size_t i = 0; i < columns.size(); i++) {
            const Field *f = findField(r, columns[i].key);
            row.push_back(f ? displayValue(*f) : "-");
            widths[i] = std::max(widths[i], displayWidth(row.back()));
        }
        cells.push_back(std::move(row));
    }
    auto line = [&](const auto &values) {
        std::string out;
        for (size_t i = 0; i < values.size(); i++) {
            const std::string_view v(values[i]);
            out += v;
            if (i + 1 < values.size())
                out.append(widths[i] - displayWidth(v) + 2, ' ');
        }
        return out + "\n";
    };
    std::vector<std::string_view> headers;
    headers.reserve(columns.size());
    for (const Column &c : columns)
        headers.push_back(c.header);
    std::string out = line(headers);
    for (const auto &row : cells)
        out += line(row);
    return out;
}

std::string dumpJson(nlohmann::ordered_json value) {
    replaceInvalidUtf8(value);
    return value.dump();
}

std::string validUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    forEachCharacter(
        s, [&](std::string_view ch, bool valid) { out.append(valid ? ch : "\xef\xbf\xbd"); });
    return out;
}

}  // namespace tarn
