// The words for the result codes that replies carry, so that output reads
// "complete" where the device says 3. One table per kind of reply.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "output.h"

namespace tarn {

struct CodeWord {
    uint32_t code;
    std::string_view word;
};

// The 32-bit result of the replies that only acknowledge (set, passwd,
// ddns set, commit, resets, time set, vlan, snmp).
inline constexpr CodeWord kAckResults[] = {
    {0, "done"},
    {3, "unsupported-option"},
    {1001, "not-admin"},
    {1006, "refused-character"},
};
inline constexpr CodeWord kVerifyResults[] = {{1, "administrator"}, {2, "not-administrator"}};
// The start of a firmware upgrade, a backup or a restore.
inline constexpr CodeWord kStartResults[] = {{0, "started"}, {1, "refused"}};
// A firmware query: the device reports no progress, only that it answered.
inline constexpr CodeWord kFirmwareQueryResults[] = {{1, "refused"}, {2, "acknowledged"}};
// The device reports a backup it ran as done whether or not the upload
// reached the server: the word says only that the upload was run.
inline constexpr CodeWord kBackupQueryResults[] = {{0, "upload-run"},
                                                   {1, "failed"},
                                                   {2, "running"},
                                                   {3, "upload-run"}};
inline constexpr CodeWord kRestoreQueryResults[] = {{1, "failed"}, {2, "running"}, {3, "complete"}};

// The word for `code`, or "unknown".
std::string_view wordFor(std::span<const CodeWord> table, uint32_t code);
// A "result" field: the word, and in JSON also "result_code".
Field resultField(std::span<const CodeWord> table, uint32_t code);

}  // namespace tarn
