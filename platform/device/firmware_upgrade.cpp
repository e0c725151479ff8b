// firmware-upgrade tftp://HOST/FILE: downloads an image with the TFTP
// client into /tmp, validates and flashes it. The daemon starts it in the
// background and follows it through ("firmware-upgrade", "progress").
#include <cstdio>
#include <string>
#include <string_view>

#include "flash.h"
#include "process.h"
#include "store.h"

namespace {

constexpr std::string_view kScheme = "tftp://";
constexpr const char *kSection = "firmware-upgrade";
constexpr const char *kProgress = "progress";

struct Source {
    std::string host;  // IPv6 unbracketed, as the daemon writes it
    std::string file;
};

// HOST ends at the first "/": an address text never holds one.
bool parseUrl(std::string_view url, Source &src) {
    if (!url.starts_with(kScheme)) {
        return false;
    }
    url.remove_prefix(kScheme.size());
    const size_t slash = url.find('/');
    if (slash == 0 || slash == std::string_view::npos || slash + 1 == url.size()) {
        return false;
    }
    src.host = url.substr(0, slash);
    src.file = url.substr(slash + 1);
    return true;
}

std::string localPath(const std::string &file) {
    return "/tmp/" + file.substr(file.rfind('/') + 1);
}

}  // namespace

int main(int argc, char **argv) {
    Source src;
    if (argc != 2 || !parseUrl(argv[1], src)) {
        fprintf(stderr, "usage: firmware-upgrade tftp://HOST/FILE\n");
        return 2;
    }
    const std::string local = localPath(src.file);
    devstore::set(kSection, kProgress, "Downloading file");
    if (devproc::run({"tftp", "-g", "-l", local, "-r", src.file, src.host}) != 0) {
        fprintf(stderr, "firmware-upgrade: download of %s from %s failed\n", src.file.c_str(),
                src.host.c_str());
    }
    devstore::set(kSection, kProgress, "Validating file");
    // flashImage validates before it writes anything.
    if (!devflash::flashImage(local)) {
        devstore::set(kSection, kProgress, "Validation failed");
        return 1;
    }
    return 0;
}
