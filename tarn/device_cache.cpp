#include "device_cache.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "addr.h"
#include "atomic_file.h"

namespace tarn {

namespace {

// A device's name comes off the wire: keep the line format intact.
std::string oneField(std::string text) {
    for (char &c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return text;
}

std::string cacheHome() {
    const char *xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && xdg[0] == '/')  // a relative value is to be ignored
        return xdg;
    const char *home = std::getenv("HOME");
    if (home && home[0] != '\0')
        return std::string(home) + "/.cache";
    return "";
}

}  // namespace

std::string deviceCachePath() {
    const std::string home = cacheHome();
    return home.empty() ? "" : home + "/tarn/devices";
}

std::vector<CachedDevice> readDeviceCache() {
    std::vector<CachedDevice> out;
    const std::string path = deviceCachePath();
    if (path.empty())
        return out;
    std::ifstream in(path);
    std::string line;
    while (out.size() < kCachedDevices && std::getline(in, line)) {
        const size_t tab1 = line.find('\t');
        const size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
        if (tab2 == std::string::npos)
            continue;
        CachedDevice d{line.substr(0, tab1), line.substr(tab1 + 1, tab2 - tab1 - 1),
                       line.substr(tab2 + 1)};
        if (parseMac(d.mac))
            out.push_back(std::move(d));
    }
    return out;
}

void rememberDevices(const std::vector<Found> &found) {
    const std::string home = cacheHome();
    if (home.empty() || found.empty())
        return;
    std::vector<CachedDevice> all;
    all.reserve(found.size() + kCachedDevices);
    for (const Found &f : found)
        all.push_back({formatMac(f.info.mac), formatIpv4(f.info.ip), f.info.name});
    for (CachedDevice &old : readDeviceCache()) {
        const bool again = std::any_of(all.begin(), all.end(),
                                       [&](const CachedDevice &d) { return d.mac == old.mac; });
        if (!again)
            all.push_back(std::move(old));
    }
    if (all.size() > kCachedDevices)
        all.resize(kCachedDevices);

    // mkdir of an existing folder fails harmlessly; the rename below tells.
    const std::string dir = home + "/tarn";
    mkdir(home.c_str(), 0700);
    mkdir(dir.c_str(), 0700);
    std::string text;
    for (const CachedDevice &d : all)
        text += oneField(d.mac) + '\t' + oneField(d.ipv4) + '\t' + oneField(d.name) + '\n';
    replaceFile(dir + "/devices", text, 0600);
}

}  // namespace tarn
