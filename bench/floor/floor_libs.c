/*
 * The footprint floor: the least memory a program can have that links what
 * the daemon links on a device (libcrypto, libcrypt and the store library)
 * and uses each as the daemon does at start: the Base64 filter, one crypt()
 * of a SHA-256-crypt setting, one settings read. It then prints "ready" and
 * waits, so that its Private_Dirty can be read next to the daemon's.
 */
#include <crypt.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <stdio.h>
#include <unistd.h>

#include "lsqlquery.h"

int main(void) {
    BIO *base64 = BIO_new(BIO_f_base64());
    int base64_ok = base64 != NULL;
    BIO_free(base64);
    const char *hash = crypt("floor", "$5$floorfloorfloor$");
    lsqlquery_pv *pv = lsqlquery_get_pv("management", NULL, "interface");
    lsqlquery_destroy_pv(pv);
    printf("ready %s\n", hash != NULL && base64_ok ? "ok" : "failed");
    fflush(stdout);
    for (;;)
        pause();
}
