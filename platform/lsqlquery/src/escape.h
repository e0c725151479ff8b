// Field escaping of the dump and journal line formats: backslash, tab and
// line feed become \\, \t and \n so that one record stays one line of
// tab-separated fields.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lsq {

std::string escapeField(std::string_view text);

// The text of an escaped field, or nothing when it holds a backslash that
// starts no known escape.
std::optional<std::string> unescapeField(std::string_view field);

}  // namespace lsq
