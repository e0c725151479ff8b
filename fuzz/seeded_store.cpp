// Reseeding goes through a second connection of the stand-in store: its
// commit bumps the shared change counter, so the daemon's cached reads are
// dropped exactly as after a write by another process on the device.
#include "seeded_store.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "record_format.h"

bool SeededStore::open(const std::string &folder, const char *dumpPath) {
    const std::string db = folder + "/settings.db";
    setenv("LSQLQUERY_DB", db.c_str(), 1);
    std::ifstream dump(dumpPath);
    if (!dump) {
        std::fprintf(stderr, "fuzz: cannot read %s\n", dumpPath);
        return false;
    }
    std::string line;
    while (std::getline(dump, line)) {
        if (line.empty() || line.front() == '#')
            continue;
        lsq::Setting s;
        std::string error;
        if (!lsq::parseDumpLine(line, s, error)) {
            std::fprintf(stderr, "fuzz: %s: %s\n", dumpPath, error.c_str());
            return false;
        }
        pristine_.push_back(std::move(s));
    }
    std::string error;
    store_ = lsq::Store::open(db, error);
    if (!store_) {
        std::fprintf(stderr, "fuzz: %s\n", error.c_str());
        return false;
    }
    return true;
}

void SeededStore::override(const char *section, const char *key, const std::string &value) {
    for (lsq::Setting &s : pristine_) {
        if (s.section == section && s.key == key && s.object.empty()) {
            s.value = value;
            return;
        }
    }
    pristine_.push_back(lsq::Setting{section, "", "", "", key, value});
}

void SeededStore::reseed() {
    if (!store_->reset() || !store_->put(pristine_)) {
        std::fprintf(stderr, "fuzz: cannot reseed the store: %s\n", store_->lastError().c_str());
        std::abort();
    }
    seeded_ = store_->changes().read();
}

void SeededStore::reseedIfChanged() {
    if (store_->changes().read() != seeded_)
        reseed();
}

namespace {

struct OwnedFolder {
    std::string path;
    pid_t owner = 0;
    ~OwnedFolder() {
        std::error_code ec;
        if (!path.empty() && getpid() == owner)
            std::filesystem::remove_all(path, ec);
    }
};

}  // namespace

std::string fuzzFolder() {
    const char *given = std::getenv("TARN_FUZZ_TMP");
    if (given != nullptr && *given != '\0')
        return given;
    static OwnedFolder folder;
    if (folder.path.empty()) {
        std::string pattern = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        pattern += "/tarn-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("fuzz: mkdtemp");
            std::abort();
        }
        folder.path = pattern;
        folder.owner = getpid();
    }
    return folder.path;
}
