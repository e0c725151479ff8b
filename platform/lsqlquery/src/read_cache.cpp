#include "read_cache.h"

namespace lsq {

void ReadCache::validate(uint64_t count) {
    if (count != count_) {
        entries_.clear();
        count_ = count;
    }
}

// NUL cannot occur inside the texts, so it separates the parts unambiguously.
void ReadCache::makeKey(const Address &a) {
    key_.clear();
    for (std::string_view part : {a.section, a.object, a.qkey, a.qvalue, a.key}) {
        key_ += part;
        key_ += '\0';
    }
}

const std::optional<std::string> *ReadCache::find(const Address &a) {
    makeKey(a);
    auto it = entries_.find(key_);
    return it == entries_.end() ? nullptr : &it->second;
}

void ReadCache::store(const Address &a, std::optional<std::string> value) {
    if (entries_.size() >= kMaxEntries)
        entries_.clear();
    makeKey(a);
    entries_.insert_or_assign(key_, std::move(value));
}

}  // namespace lsq
