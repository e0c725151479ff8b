// The settings store operations over lsqlquery.
//
// Every call goes to the library: the daemon keeps no copy of any setting,
// so a change made by the device's own tools is seen at once.
#include "cfg.h"

#include <lsqlquery.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

struct PvDeleter {
    void operator()(lsqlquery_pv *pv) const { lsqlquery_destroy_pv(pv); }
};
using PvPtr = std::unique_ptr<lsqlquery_pv, PvDeleter>;

// Copies the record's value, cut to the destination and always terminated.
// No record (or an empty destination) leaves the destination as it was:
// callers clear their buffers first and read "empty" as "missing".
void copyValue(const PvPtr &rec, std::span<char> dst) {
    if (!rec || rec->value == nullptr || dst.empty()) {
        return;
    }
    const size_t len = strnlen(rec->value, dst.size() - 1);
    std::memcpy(dst.data(), rec->value, len);
    dst[len] = '\0';
}

}  // namespace

int cfgGet(const char *section, const char *key, std::span<char> dst) {
    copyValue(PvPtr{lsqlquery_get_pv(section, nullptr, key)}, dst);
    return 1;
}

int cfgGetObj(const char *section, const char *object, const char *key, std::span<char> dst) {
    copyValue(PvPtr{lsqlquery_get_pv(section, object, key)}, dst);
    return 1;
}

int cfgGetObjWhere(const char *section,
                   const char *object,
                   const char *key,
                   const char *qualKey,
                   const char *qualValue,
                   std::span<char> dst) {
    copyValue(PvPtr{lsqlquery_get_pv_q1(section, object, key, qualKey, qualValue)}, dst);
    return 1;
}

int cfgSet(const char *section, const char *key, const char *value) {
    return cfgSetObjWhere(section, nullptr, key, nullptr, nullptr, value);
}

int cfgSetObj(const char *section, const char *object, const char *key, const char *value) {
    return cfgSetObjWhere(section, object, key, nullptr, nullptr, value);
}

// One write; the qualifier record exists only for a qualified write.
int cfgSetObjWhere(const char *section,
                   const char *object,
                   const char *key,
                   const char *qualKey,
                   const char *qualValue,
                   const char *value) {
    PvPtr keyRec{lsqlquery_new_pv_solo(key, value)};
    PvPtr qualRec{qualKey != nullptr ? lsqlquery_new_pv_solo(qualKey, qualValue) : nullptr};
    char *error = nullptr;
    const int rc =
        lsqlquery_set_pv_with_error(section, object, keyRec.get(), qualRec.get(), &error);
    if (rc != 0) {
        std::printf("Error occurred on set: %s\n", error != nullptr ? error : "");
        std::free(error);
    }
    // The key record goes first, then the qualifier record.
    keyRec.reset();
    qualRec.reset();
    return rc;
}

int cfgSaveStartup() {
    return cfgSet("config", "startup", "running");
}

int cfgRequestReboot() {
    return cfgSet("system", "reboot", "yes");
}

int cfgRequestFactoryReset() {
    return cfgSet("system", "factory-reset", "yes");
}
