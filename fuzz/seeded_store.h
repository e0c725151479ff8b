// A temporary settings store for the fuzz targets, seeded from the factory
// defaults and put back to them whenever a request has written to it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "setting.h"
#include "store.h"

class SeededStore {
public:
    // Points LSQLQUERY_DB into `folder` (before the library's first use) and
    // loads the dump at `dumpPath` for reseed() to write. False with a
    // message on stderr when any step fails.
    bool open(const std::string &folder, const char *dumpPath);
    // Replaces one setting of the pristine copy (written by the next reseed).
    void override(const char *section, const char *key, const std::string &value);
    // Rewrites the pristine settings when anything has written since the
    // last seeding: one change-counter read when nothing has.
    void reseedIfChanged();
    void reseed();

private:
    std::unique_ptr<lsq::Store> store_;
    std::vector<lsq::Setting> pristine_;
    uint64_t seeded_ = 0;
};

// A private folder for the fuzz run: $TARN_FUZZ_TMP when set (the campaign
// script makes and removes it), else a new folder under /dev/shm or /tmp
// that is removed at exit.
std::string fuzzFolder();
