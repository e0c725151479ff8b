#include "cfgfile.h"

#include <algorithm>
#include <span>

#include "sha256.h"

namespace cfgfile {

namespace {

struct ErrorText {
    ConfigError error;
    std::string_view text;
};

constexpr ErrorText kErrorTexts[] = {
    {ConfigError::None, "valid configuration file"},
    {ConfigError::BadHeader, "not a configuration file"},
    {ConfigError::BadDigestLine, "checksum line missing or malformed"},
    {ConfigError::BadChecksum, "checksum does not match the settings"},
};

// Run state left out of backups; an empty key stands for the whole section.
struct RunStateKey {
    std::string_view section;
    std::string_view key;
};

constexpr RunStateKey kRunState[] = {
    {"config", "status"},        {"config", "startup"},    {"system", "reboot"},
    {"system", "factory-reset"}, {"firmware-upgrade", ""},
};

constexpr size_t kHexDigestLen = 64;

std::span<const uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const uint8_t *>(text.data()), text.size()};
}

// Field `index` of a tab-separated line.
std::string_view fieldOf(std::string_view line, size_t index) {
    for (; index > 0; --index) {
        const size_t tab = line.find('\t');
        if (tab == std::string_view::npos) {
            return {};
        }
        line.remove_prefix(tab + 1);
    }
    return line.substr(0, line.find('\t'));
}

bool isRunState(std::string_view line) {
    const std::string_view section = fieldOf(line, 0);
    const std::string_view key = fieldOf(line, 3);
    return std::any_of(std::begin(kRunState), std::end(kRunState), [&](const RunStateKey &k) {
        return k.section == section && (k.key.empty() || k.key == key);
    });
}

std::optional<std::string> hexDigest(std::string_view body) {
    const std::optional<devfmt::Digest> digest = devfmt::sha256(bytesOf(body));
    if (!digest) {
        return std::nullopt;
    }
    return devfmt::toHex(*digest);
}

}  // namespace

std::string_view describe(ConfigError error) {
    const auto *it = std::find_if(std::begin(kErrorTexts), std::end(kErrorTexts),
                                  [error](const ErrorText &e) { return e.error == error; });
    return it->text;
}

std::optional<std::string> build(std::string_view body) {
    const std::optional<std::string> digest = hexDigest(body);
    if (!digest) {
        return std::nullopt;
    }
    std::string file(kHeaderLine);
    file.append(kDigestTag).append(*digest).append("\n").append(body);
    return file;
}

ConfigError check(std::string_view file, std::string_view &body) {
    if (!file.starts_with(kHeaderLine)) {
        return ConfigError::BadHeader;
    }
    file.remove_prefix(kHeaderLine.size());
    const size_t eol = file.find('\n');
    const std::string_view digestLine = file.substr(0, eol);
    if (eol == std::string_view::npos || !digestLine.starts_with(kDigestTag) ||
        digestLine.size() != kDigestTag.size() + kHexDigestLen) {
        return ConfigError::BadDigestLine;
    }
    const std::string_view rest = file.substr(eol + 1);
    const std::optional<std::string> digest = hexDigest(rest);
    if (!digest || *digest != digestLine.substr(kDigestTag.size())) {
        return ConfigError::BadChecksum;
    }
    body = rest;
    return ConfigError::None;
}

std::string settingsOnly(std::string_view dump) {
    std::string kept;
    while (!dump.empty()) {
        const size_t eol = dump.find('\n');
        const std::string_view line = dump.substr(0, eol == std::string_view::npos ? eol : eol + 1);
        if (!isRunState(line)) {
            kept.append(line);
        }
        dump.remove_prefix(line.size());
    }
    return kept;
}

}  // namespace cfgfile
