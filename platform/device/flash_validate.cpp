// flash-validate FILE: exit code 0 only for a well-formed image whose
// payload digest matches and that fits the device's flash.
#include <cstdio>
#include <string>

#include "fileio.h"
#include "flash.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: flash-validate FILE\n");
        return 2;
    }
    const auto image = devio::readFile(argv[1]);
    if (!image) {
        fprintf(stderr, "flash-validate: cannot read %s\n", argv[1]);
        return 1;
    }
    std::string version;
    if (const std::string why = devflash::refusal(*image, version); !why.empty()) {
        fprintf(stderr, "flash-validate: %s: %s\n", argv[1], why.c_str());
        return 1;
    }
    printf("flash-validate: %s: firmware %s\n", argv[1], version.c_str());
    return 0;
}
