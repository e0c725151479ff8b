// Whole-file reads and replace-on-write for the device tools.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace devio {

std::optional<std::vector<uint8_t>> readFile(const std::string &path);
// Writes a temporary file beside `path` and renames it over `path`, so a
// reader never sees half a file (a flash image, a backup).
bool writeFile(const std::string &path, std::span<const uint8_t> data);

}  // namespace devio
