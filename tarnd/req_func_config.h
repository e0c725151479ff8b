// Configuration backup to and restore from a file server.
#pragma once

#include <cstdint>
#include <span>

#include "sys.h"
#include "transfer.h"
#include "wire.h"

unsigned funcConfigBackup(const wire::message_t *pMsg,
                          std::span<const uint8_t> body,
                          std::span<uint8_t> pRetMsg);
unsigned funcConfigUpgrade(const wire::message_t *pMsg,
                           std::span<const uint8_t> body,
                           std::span<uint8_t> pRetMsg);

// What the restore handler hands to its worker thread. Allocated with new
// per accepted start; the worker owns it and deletes it when it ends.
struct RestoreJob {
    uint8_t uServerType;                      // 1 TFTP, 2 HTTP
    uint8_t uAddrType;                        // 1 IPv4, 2 IPv6
    char ipv4[kIpv4TextLen];                  // server text of an IPv4 server, else empty
    char ipv6[kIpv6TextLen];                  // server text of an IPv6 server, else empty
    char fileName[wire::transfer::kFileLen];  // terminated
};

// Thread body: downloads, validates and restores the job's file, writing
// ("config", "status") as it goes, then deletes the job.
void *configRestoreWorker(void *arg);

// Starts the worker for an accepted restore: true when it took the job, false
// when the job stays with the caller. The default runs configRestoreWorker on
// a detached thread; fuzzing runs it inline instead.
using RestoreWorkerStart = bool (*)(RestoreJob *job);
void setRestoreWorkerStart(RestoreWorkerStart start);
