// What each lsql command does, over the settings database.
#pragma once

#include "lsql_args.h"

namespace lsq {

// Exit status of the tool: 0 done; 1 nothing found (get) or the write
// failed (set: locked setting or database error); 2 bad usage or another
// database failure.
// Opens the database at $LSQLQUERY_DB first.
int runCommand(const Command &cmd);

}  // namespace lsq
