// config-file validate FILE | config-file restore FILE
//
// validate: exit code 0 only for an intact configuration file.
// restore: loads its settings into the store and requests a reboot, so the
// device comes up with them.
#include <cstdio>
#include <string>
#include <string_view>

#include "cfgfile.h"
#include "fileio.h"
#include "process.h"
#include "store.h"

namespace {

// The body of a checked file, or nothing after saying why.
bool loadChecked(const char *path, std::string &content, std::string_view &body) {
    const auto bytes = devio::readFile(path);
    if (!bytes) {
        fprintf(stderr, "config-file: cannot read %s\n", path);
        return false;
    }
    content.assign(bytes->begin(), bytes->end());
    const cfgfile::ConfigError error = cfgfile::check(content, body);
    if (error != cfgfile::ConfigError::None) {
        const std::string_view why = cfgfile::describe(error);
        fprintf(stderr, "config-file: %s: %.*s\n", path, static_cast<int>(why.size()), why.data());
        return false;
    }
    return true;
}

int validate(const char *path) {
    std::string content;
    std::string_view body;
    return loadChecked(path, content, body) ? 0 : 1;
}

int restore(const char *path) {
    std::string content;
    std::string_view body;
    if (!loadChecked(path, content, body)) {
        return 1;
    }
    // A file from elsewhere may still carry run state; it is never loaded.
    if (devproc::runFeed({"lsql", "load", "-"}, cfgfile::settingsOnly(body)) != 0) {
        fprintf(stderr, "config-file: lsql load failed\n");
        return 1;
    }
    return devstore::set("system", "reboot", "yes") ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    const std::string_view command = argc == 3 ? argv[1] : "";
    if (command == "validate") {
        return validate(argv[2]);
    }
    if (command == "restore") {
        return restore(argv[2]);
    }
    fprintf(stderr, "usage: config-file validate|restore FILE\n");
    return 2;
}
