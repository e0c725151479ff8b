// mkfwimage VERSION PAYLOAD OUT: packs a payload into a firmware image.
#include <cstdio>
#include <string>

#include "fileio.h"
#include "fwimage.h"

int main(int argc, char **argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: mkfwimage VERSION PAYLOAD OUT\n");
        return 2;
    }
    const auto payload = devio::readFile(argv[2]);
    if (!payload) {
        fprintf(stderr, "mkfwimage: cannot read %s\n", argv[2]);
        return 1;
    }
    const auto image = fwimage::build(argv[1], *payload);
    if (!image) {
        fprintf(stderr, "mkfwimage: version must be 1 to %zu characters\n",
                fwimage::kVersionLen - 1);
        return 1;
    }
    if (!devio::writeFile(argv[3], *image)) {
        fprintf(stderr, "mkfwimage: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
