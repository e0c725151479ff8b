// The line formats of `lsql dump`, `lsql load` and `lsql journal`.
//
//   dump:    SECTION OBJECT QUALIFIER KEY VALUE
//   journal: SEQ WRITER SECTION OBJECT QUALIFIER KEY VALUE RESULT
//
// Fields are tab-separated and escaped (see escape.h); an absent object or
// qualifier is "-", a qualifier is QKEY=QVALUE, an empty value an empty field.
#pragma once

#include <string>
#include <string_view>

#include "setting.h"

namespace lsq {

std::string formatDumpLine(const Setting &s);
std::string formatJournalLine(const JournalEntry &e);

// Parses one dump line (without its line feed) into `out`; on a malformed
// line returns false and describes the fault in `error`.
bool parseDumpLine(std::string_view line, Setting &out, std::string &error);

}  // namespace lsq
