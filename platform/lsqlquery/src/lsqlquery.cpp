// The C interface of the settings library over one process-wide Store.
//
// Reads are served from a cache that is dropped whenever the shared change
// counter moved, so a write by any process is seen by the next read while
// repeated reads of an unchanged store cost no database query.

#include <pthread.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "read_cache.h"
#include "store.h"

#pragma GCC visibility push(default)
#include "lsqlquery.h"
#pragma GCC visibility pop

namespace {

using lsq::Address;

// The process's one connection, opened on first use (and retried on every
// call until it opens), shared by all threads under one mutex.
struct Library {
    std::mutex mutex;
    std::unique_ptr<lsq::Store> store;
    lsq::ReadCache cache;

    lsq::Store *open(std::string &error) {
        if (!store)
            store = lsq::Store::open(lsq::databasePath(), error);
        return store.get();
    }
};

Library *g_library = nullptr;

// A forked child must not use its parent's SQLite connection: it drops it
// without closing it (closing could disturb the parent's locks) and opens
// its own on next use. The mutex is held across fork so that no other
// thread leaves it locked in the child.
void lockBeforeFork() {
    g_library->mutex.lock();
}
void unlockInParent() {
    g_library->mutex.unlock();
}
void forgetInChild() {
    static_cast<void>(g_library->store.release());
    g_library->cache = lsq::ReadCache{};
    g_library->mutex.unlock();
}

// Never destroyed: a detached thread may still read settings while the
// process exits.
Library &library() {
    static Library *lib = [] {
        g_library = new Library;
        pthread_atfork(lockBeforeFork, unlockInParent, forgetInChild);
        return g_library;
    }();
    return *lib;
}

// One allocation holds the record and both texts, so the caller's single
// lsqlquery_destroy_pv frees it all.
lsqlquery_pv *newRecord(std::string_view key, std::string_view value) {
    size_t size = sizeof(lsqlquery_pv) + key.size() + value.size() + 2;
    auto *pv = static_cast<lsqlquery_pv *>(std::malloc(size));
    if (!pv)
        return nullptr;
    char *text = reinterpret_cast<char *>(pv + 1);
    pv->key = text;
    std::memcpy(text, key.data(), key.size());
    text[key.size()] = '\0';
    text += key.size() + 1;
    pv->value = text;
    std::memcpy(text, value.data(), value.size());
    text[value.size()] = '\0';
    return pv;
}

lsqlquery_pv *cachedRead(const Address &a) {
    Library &lib = library();
    std::lock_guard<std::mutex> guard(lib.mutex);
    std::string error;
    lsq::Store *store = lib.open(error);
    if (!store)
        return nullptr;
    // The count is taken before the query: a write that commits in between
    // moves it again, so the entry stored below is dropped at the next read.
    bool cacheable = store->changes().available();
    if (cacheable) {
        lib.cache.validate(store->changes().read());
        if (const std::optional<std::string> *hit = lib.cache.find(a))
            return *hit ? newRecord(a.key, **hit) : nullptr;
    }
    std::optional<std::string> value;
    if (!store->get(a, value))
        return nullptr;
    lsqlquery_pv *pv = value ? newRecord(a.key, *value) : nullptr;
    if (cacheable)
        lib.cache.store(a, std::move(value));
    return pv;
}

int refuse(char **error, const std::string &text) {
    if (error)
        *error = strdup(text.c_str());
    return -1;
}

bool validRecord(const lsqlquery_pv *pv) {
    return pv && pv->key && *pv->key && pv->value;
}

}  // namespace

extern "C" {

lsqlquery_pv *lsqlquery_get_pv(const char *section, const char *object, const char *key) {
    if (!section || !key)
        return nullptr;
    return cachedRead({section, object ? object : "", "", "", key});
}

lsqlquery_pv *lsqlquery_get_pv_q1(const char *section,
                                  const char *object,
                                  const char *key,
                                  const char *qkey,
                                  const char *qvalue) {
    if (!section || !key || !qkey || !qvalue)
        return nullptr;
    return cachedRead({section, object ? object : "", qkey, qvalue, key});
}

lsqlquery_pv *lsqlquery_new_pv_solo(const char *key, const char *value) {
    if (!key || !value)
        return nullptr;
    return newRecord(key, value);
}

int lsqlquery_set_pv_with_error(const char *section,
                                const char *object,
                                lsqlquery_pv *pv,
                                lsqlquery_pv *qualifier,
                                char **error) {
    if (!section || !*section || !validRecord(pv) || (qualifier && !validRecord(qualifier)))
        return refuse(error, "invalid setting: section, key and value are required");
    Address a{section, object ? object : "", qualifier ? qualifier->key : "",
              qualifier ? qualifier->value : "", pv->key};
    Library &lib = library();
    std::lock_guard<std::mutex> guard(lib.mutex);
    std::string openError;
    lsq::Store *store = lib.open(openError);
    if (!store)
        return refuse(error, openError);
    std::optional<std::string> refusal = store->write(a, pv->value, program_invocation_short_name);
    return refusal ? refuse(error, *refusal) : 0;
}

void lsqlquery_destroy_pv(lsqlquery_pv *pv) {
    std::free(pv);
}

}  // extern "C"
