// flash-validate FILE: exit code 0 only for a well-formed image whose
// payload digest matches.
#include <cstdio>
#include <string>
#include <string_view>

#include "fileio.h"
#include "fwimage.h"

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
    const fwimage::ImageError error = fwimage::check(*image, version);
    if (error != fwimage::ImageError::None) {
        const std::string_view why = fwimage::describe(error);
        fprintf(stderr, "flash-validate: %s: %.*s\n", argv[1], static_cast<int>(why.size()),
                why.data());
        return 1;
    }
    printf("flash-validate: %s: firmware %s\n", argv[1], version.c_str());
    return 0;
}
