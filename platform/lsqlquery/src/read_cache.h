// The library's cache of read results (missing values included), valid for
// one count of the shared change counter: a count that moved means some
// process wrote since, and the whole cache is dropped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "setting.h"

namespace lsq {

class ReadCache {
public:
    // Drops every entry unless `count` is the count the entries were read at.
    void validate(uint64_t count);

    // The cached result for `a`: null when `a` is not cached, else the
    // cached value or nothing for a missing value.
    const std::optional<std::string> *find(const Address &a);
    void store(const Address &a, std::optional<std::string> value);

private:
    // A device holds a few hundred settings; the bound only stops a caller
    // that asks for ever new keys from growing the cache without end.
    static constexpr size_t kMaxEntries = 4096;

    void makeKey(const Address &a);

    uint64_t count_ = 0;
    std::string key_;  // reused for every lookup
    std::unordered_map<std::string, std::optional<std::string>> entries_;
};

}  // namespace lsq
