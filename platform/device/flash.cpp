#include "flash.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <string_view>

#include "fileio.h"
#include "fwimage.h"
#include "store.h"

namespace devflash {

namespace {

bool makeFlashDir() {
    const std::string image(kFlashImage);
    const std::string dir = image.substr(0, image.rfind('/'));
    for (size_t slash = 1; slash != std::string::npos;) {
        slash = dir.find('/', slash + 1);
        const std::string part = dir.substr(0, slash);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool flashImage(const std::string &path) {
    const auto image = devio::readFile(path);
    if (!image) {
        fprintf(stderr, "flash: cannot read %s\n", path.c_str());
        return false;
    }
    std::string version;
    const fwimage::ImageError error = fwimage::check(*image, version);
    if (error != fwimage::ImageError::None) {
        const std::string_view why = fwimage::describe(error);
        fprintf(stderr, "flash: %s: %.*s\n", path.c_str(), static_cast<int>(why.size()),
                why.data());
        return false;
    }
    if (!makeFlashDir() || !devio::writeFile(kFlashImage, *image)) {
        fprintf(stderr, "flash: cannot write %s\n", kFlashImage);
        return false;
    }
    printf("flash: wrote firmware %s\n", version.c_str());
    return devstore::set("system", "version", version.c_str()) &&
           devstore::set("firmware-upgrade", "progress", "1");
}

}  // namespace devflash
