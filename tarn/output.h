// Results as records of named fields, printed as aligned text, as tables or
// as JSON. Commands build records; the --json switch only picks the printer.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace tarn {

struct Field {
    // Code: a protocol code shown as its word; JSON adds "<key>_code".
    enum class Kind { Text, Number, Bool, Null, Code };
    std::string key;
    std::string value;  // the JSON literal for numbers and booleans, the word of a code
    Kind kind = Kind::Text;
    int64_t code = 0;  // the number of a code
};

using Record = std::vector<Field>;

Field text(std::string key, std::string value);
Field number(std::string key, int64_t value);
// A number with a fixed count of decimals, e.g. a round-trip time.
Field decimal(std::string key, double value, int decimals);
std::string fixedDecimals(double value, int decimals);
Field boolean(std::string key, bool value);
Field null(std::string key);
// A protocol code: its word in text, word and number in JSON.
Field coded(std::string key, int64_t code, std::string_view word);

// The text with every byte that is not part of valid UTF-8 replaced by U+FFFD.
std::string validUtf8(std::string_view s);
// The value on one line. Device texts are not guaranteed UTF-8: each
// invalid byte becomes U+FFFD, as in validUtf8, so the output parses.
std::string dumpJson(nlohmann::ordered_json value);
// One object on one line, members in the record's order, as dumpJson.
std::string toJson(const Record &record);
// An array, one element per line; the same shape for zero, one or many.
std::string toJson(const std::vector<Record> &records);

// A device text made safe for a terminal: control characters (C0, DEL,
// C1), the bidirectional controls that reorder a line, and bytes that are
// not UTF-8 are written as \n, \t, \r, \xHH or \uHHHH escapes.
std::string terminalText(std::string_view s);
// Columns a terminal gives to UTF-8 text: wide characters take two,
// combining marks none.
size_t displayWidth(std::string_view s);

// "key: value" lines with aligned values; null fields read "-" and
// booleans "yes" or "no", in tables too.
std::string toLines(const Record &record);

struct Column {
    std::string_view key;
    std::string_view header;
};
// Columns aligned by display width; a record without a column's key shows "-".
std::string toTable(const std::vector<Record> &records, const std::vector<Column> &columns);

}  // namespace tarn
