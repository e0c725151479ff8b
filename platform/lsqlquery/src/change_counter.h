// A change counter shared by every process that uses one database: an
// 8-byte file next to it ("<db>-changes"), mapped shared. Every writer bumps
// it after its transaction commits, so a reader that sees the same count as
// when it filled its cache knows no write has happened since.
#pragma once

#include <cstdint>
#include <string>

namespace lsq {

class ChangeCounter {
public:
    ChangeCounter() = default;
    ChangeCounter(const ChangeCounter &) = delete;
    ChangeCounter &operator=(const ChangeCounter &) = delete;
    ~ChangeCounter();

    // Maps the counter file of database `dbPath`, creating it when missing.
    // False when it cannot; the counter then stays unavailable.
    bool open(const std::string &dbPath);
    bool available() const { return count_ != nullptr; }

    uint64_t read() const;
    void bump();

private:
    uint64_t *count_ = nullptr;
};

}  // namespace lsq
