// config-dump FILE: writes the running settings as a configuration file.
#include <cstdio>
#include <span>
#include <string>

#include "cfgfile.h"
#include "fileio.h"
#include "process.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: config-dump FILE\n");
        return 2;
    }
    std::string dump;
    if (devproc::runCapture({"lsql", "dump"}, dump) != 0) {
        fprintf(stderr, "config-dump: lsql dump failed\n");
        return 1;
    }
    const auto file = cfgfile::build(cfgfile::settingsOnly(dump));
    if (!file) {
        fprintf(stderr, "config-dump: cannot compute the checksum\n");
        return 1;
    }
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t *>(file->data()),
                                         file->size());
    if (!devio::writeFile(argv[1], bytes)) {
        fprintf(stderr, "config-dump: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
