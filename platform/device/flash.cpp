#include "flash.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <optional>

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

// The partition's size; nothing when the board does not say.
std::optional<uint64_t> flashCapacity() {
    if (access(kFlashCapacity, F_OK) != 0) {
        return std::nullopt;
    }
    // A file that is there but says nothing sensible is a fault worth a
    // line, never a silent "no limit".
    const auto text = devio::readFile(kFlashCapacity);
    if (!text) {
        fprintf(stderr, "flash: cannot read %s; the flash's size is not checked\n", kFlashCapacity);
        return std::nullopt;
    }
    uint64_t size = 0;
    const char *first = reinterpret_cast<const char *>(text->data());
    const char *last = first + text->size();
    if (last != first && last[-1] == '\n') {
        last--;
    }
    const auto [end, error] = std::from_chars(first, last, size);
    if (error != std::errc() || end == first || end != last) {
        fprintf(stderr,
                "flash: %s does not hold a number of bytes; the flash's size is not checked\n",
                kFlashCapacity);
        return std::nullopt;
    }
    return size;
}

}  // namespace

std::string refusal(std::span<const uint8_t> image, std::string &version) {
    const fwimage::ImageError error = fwimage::check(image, version);
    if (error != fwimage::ImageError::None) {
        return std::string(fwimage::describe(error));
    }
    const std::optional<uint64_t> capacity = flashCapacity();
    if (capacity && image.size() > *capacity) {
        return "image of " + std::to_string(image.size()) + " bytes does not fit the flash of " +
               std::to_string(*capacity) + " bytes";
    }
    return "";
}

bool flashImage(const std::string &path) {
    const auto image = devio::readFile(path);
    if (!image) {
        fprintf(stderr, "flash: cannot read %s\n", path.c_str());
        return false;
    }
    std::string version;
    if (const std::string why = refusal(*image, version); !why.empty()) {
        fprintf(stderr, "flash: %s: %s\n", path.c_str(), why.c_str());
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
