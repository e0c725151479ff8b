#include "store.h"

#include <lsqlquery.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace devstore {

namespace {

struct PvDeleter {
    void operator()(lsqlquery_pv *pv) const { lsqlquery_destroy_pv(pv); }
};
struct TextDeleter {
    void operator()(char *text) const { free(text); }
};

}  // namespace

bool set(const char *section, const char *key, const char *value) {
    const std::unique_ptr<lsqlquery_pv, PvDeleter> pv(lsqlquery_new_pv_solo(key, value));
    if (!pv) {
        fprintf(stderr, "cannot set %s/%s: out of memory\n", section, key);
        return false;
    }
    char *rawError = nullptr;
    const int rc = lsqlquery_set_pv_with_error(section, nullptr, pv.get(), nullptr, &rawError);
    const std::unique_ptr<char, TextDeleter> error(rawError);
    if (rc != 0) {
        fprintf(stderr, "cannot set %s/%s: %s\n", section, key,
                error ? error.get() : "unknown error");
        return false;
    }
    return true;
}

}  // namespace devstore
