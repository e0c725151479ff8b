/*
 * lsqlquery: the device's settings store.
 *
 * Values are texts addressed by section, optional object and key. An object
 * may also be selected by a qualifier, a second key and value ("vap" object
 * "vap5" whose "radio" is "wlan1"): the same object name with two different
 * qualifiers names two different objects.
 *
 * This is the stand-in built when the platform provides none: a SQLite
 * database at $LSQLQUERY_DB (default /var/lib/lsqlquery/settings.db, created
 * empty with its folder when missing), one connection per process, safe to
 * use from several threads and processes. Reads are cached per process and
 * the cache is dropped whenever any process has written, so a write is
 * seen by every process's next read.
 *
 * Addresses are exact: a read without qualifier finds only the unqualified
 * object, never one that exists only with a qualifier.
 *
 * Every write through lsqlquery_set_pv_with_error is journaled, in order,
 * with the writing program's short name and its result ("ok" or the error
 * text). A setting may be locked (see the lsql tool); a write to it then
 * fails with the lock's text. When the database cannot be opened, reads
 * find nothing and writes fail with a text naming its path.
 */
#ifndef LSQLQUERY_H
#define LSQLQUERY_H

#ifdef __cplusplus
extern "C" {
#endif

/* A key and its value. Callers rely on `value` being the record's second
 * pointer-sized member. Released with lsqlquery_destroy_pv. */
typedef struct lsqlquery_pv {
    char *key;
    char *value;
} lsqlquery_pv;

/* The value of (section, object or NULL, key), or NULL when there is none. */
lsqlquery_pv *lsqlquery_get_pv(const char *section, const char *object, const char *key);

/* The same within the object selected by the qualifier (qkey = qvalue). */
lsqlquery_pv *lsqlquery_get_pv_q1(const char *section,
                                  const char *object,
                                  const char *key,
                                  const char *qkey,
                                  const char *qvalue);

/* A new record holding one key and its value (both copied). */
lsqlquery_pv *lsqlquery_new_pv_solo(const char *key, const char *value);

/* Writes pv's value under (section, object, pv->key), within the object
 * selected by `qualifier` when it is not NULL (creating that object with its
 * qualifier setting when it does not exist). 0 on success; otherwise
 * non-zero, and *error receives a malloc'd text the caller frees. */
int lsqlquery_set_pv_with_error(const char *section,
                                const char *object,
                                lsqlquery_pv *pv,
                                lsqlquery_pv *qualifier,
                                char **error);

/* Releases a record; NULL is accepted. */
void lsqlquery_destroy_pv(lsqlquery_pv *pv);

#ifdef __cplusplus
}
#endif

#endif
