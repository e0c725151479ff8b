// Message capture: in debug mode every received request and reply is saved
// as a file, but only on a separately mounted, undamaged volume so that
// captures never fill the device's internal flash.
#include "capture.h"

#include <mntent.h>
#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "daemon_state.h"
#include "dbxmldb.h"
#include "debug.h"
#include "stdio_file.h"

namespace {

constexpr size_t kPathLen = 1024;
// Volume numbers scanned at most; storage products hold a handful.
constexpr int64_t kMaxVolumes = 1024;

// The mount point found by the last mount check.
char g_mountPoint[kPathLen];

struct MountTableClose {
    void operator()(FILE *f) const { endmntent(f); }
};
using MountTable = std::unique_ptr<FILE, MountTableClose>;

// "/Volume_1/logs" -> "/Volume_1": everything before the first "/" that
// follows the first character.
std::string_view firstComponent(std::string_view path) {
    if (path.empty())
        return path;
    return path.substr(0, path.find('/', 1));
}

// Finds the mount entry (other than the root file system) whose device or
// mount point is `component` and keeps its mount point.
bool findMountPoint(std::string_view component) {
    MountTable table(setmntent("/proc/mounts", "r"));
    if (!table)
        return false;
    g_mountPoint[0] = '\0';
    while (const mntent *entry = getmntent(table.get())) {
        const std::string_view dir = entry->mnt_dir;
        if (dir == "/")
            continue;
        if (component == entry->mnt_fsname || component == dir) {
            std::snprintf(g_mountPoint, sizeof g_mountPoint, "%s", entry->mnt_dir);
            return true;
        }
    }
    return false;
}

bool volumeKeyIs(int64_t vol, const char *key, std::string_view value) {
    std::array<char, kPathLen> buf{};
    dbGetString(buf, "/raid/vols/vol:%d/%s", static_cast<int>(vol), key);
    return value == buf.data();
}

// The number of the volume that holds `mountPoint`, or 0 for none.
int64_t findVolume(std::string_view mountPoint) {
    const int64_t count = dbGetI64("/raid/vols/count");
    for (int64_t vol = 1; vol <= count && vol <= kMaxVolumes; vol++) {
        if (volumeKeyIs(vol, "label", mountPoint) || volumeKeyIs(vol, "mnt", mountPoint) ||
            volumeKeyIs(vol, "uuid", mountPoint))
            return vol;
    }
    return 0;
}

struct KindNames {
    const char *fileTag;  // in the file name
    const char *word;     // in the announcement line
};

constexpr KindNames kindNames(CaptureKind kind) {
    switch (kind) {
    case CaptureKind::Request:
        return {"req", "request"};
    case CaptureKind::Reply:
        return {"msg", "reply"};
    }
    return {"", ""};
}

}  // namespace

bool captureFolderUsable(const char *path) {
    if (!findMountPoint(firstComponent(path)))
        return false;
    const int64_t vol = findVolume(g_mountPoint);
    if (vol == 0)
        return true;
    std::array<char, kPathLen> state{};
    dbGetString(state, "/raid/vols/vol:%d/raid_state", static_cast<int>(vol));
    return std::string_view(state.data()) != "damaged";
}

void captureMessage(CaptureKind kind, std::span<const uint8_t> datagram, unsigned &counter) {
    if (g_debugLevel == 0 || g_captureFolder == nullptr || !captureFolderUsable(g_captureFolder))
        return;
    std::array<char, kPathLen> name{};
    // Every attempt uses up a number, also one whose file cannot be created.
    const KindNames names = kindNames(kind);
    std::snprintf(name.data(), name.size(), "%s/tarn_%s_%04u", g_captureFolder, names.fileTag,
                  counter);
    counter++;
    std::fprintf(stderr, "received a %s message. save it to %s now.\n", names.word, name.data());

    // Requests carry the administrator's password: readable by root alone.
    File file = createRegularFile(name.data(), S_IRUSR | S_IWUSR);
    if (!file)
        return;
    std::fwrite(datagram.data(), 1, datagram.size(), file.get());
}
