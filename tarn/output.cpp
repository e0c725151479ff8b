#include "output.h"

#include <algorithm>
#include <cstdio>

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

// Calls `each` with every character of `s` (an ASCII byte or a whole valid
// UTF-8 sequence), and with an empty view for each byte that is not part
// of one.
template <typename Each>
void forEachCharacter(std::string_view s, Each each) {
    for (size_t i = 0; i < s.size();) {
        const size_t len = static_cast<unsigned char>(s[i]) < 0x80 ? 1 : utf8Sequence(s.substr(i));
        each(s.substr(i, len));
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
    case Field::Kind::Number:
        return f.value;
    }
    return f.value;
}

std::string jsonValue(const Field &f) {
    return f.kind == Field::Kind::Text ? jsonString(f.value) : f.value;
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

std::string jsonString(std::string_view s) {
    std::string out = "\"";
    forEachCharacter(s, [&](std::string_view ch) {
        const auto c = ch.empty() ? 0u : static_cast<unsigned char>(ch[0]);
        if (ch.empty()) {
            out += "\\ufffd";
        } else if (ch.size() > 1) {
            out.append(ch);
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    });
    return out + "\"";
}

std::string toJson(const Record &record) {
    std::string out = "{";
    for (const Field &f : record) {
        if (out.size() > 1)
            out += ", ";
        out += jsonString(f.key) + ": " + jsonValue(f);
    }
    return out + "}";
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
            widths[i] = std::max(widths[i], row.back().size());
        }
        cells.push_back(std::move(row));
    }
    auto line = [&](const auto &values) {
        std::string out;
        for (size_t i = 0; i < values.size(); i++) {
            const std::string_view v(values[i]);
            out += v;
            if (i + 1 < values.size())
                out.append(widths[i] - v.size() + 2, ' ');
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

std::string validUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    forEachCharacter(s, [&](std::string_view ch) { out.append(ch.empty() ? "\xef\xbf\xbd" : ch); });
    return out;
}

}  // namespace tarn
