// The shapes a setting takes inside the store: an address to look up, a
// stored row and a journal entry.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lsq {

// Where a value lives. An empty object means "no object"; an empty qualifier
// key means "not qualified". Addresses are exact: the unqualified object
// "vap5" and the object "vap5" qualified by radio=wlan1 are different.
struct Address {
    std::string_view section;
    std::string_view object;
    std::string_view qkey;
    std::string_view qvalue;
    std::string_view key;
};

struct Setting {
    std::string section;
    std::string object;
    std::string qkey;
    std::string qvalue;
    std::string key;
    std::string value;

    Address address() const { return {section, object, qkey, qvalue, key}; }
};

struct JournalEntry {
    int64_t seq = 0;
    std::string writer;
    Setting setting;
    std::string result;  // "ok" or the error text
};

}  // namespace lsq
