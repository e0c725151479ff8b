// Configuration backup and restore. Both operations share one state key,
// ("config", "status"): a backup walks it to "complete" within its own
// request; a restore hands the work to a detached worker thread that walks
// it to "complete" or "failed", and a restore query returns it to empty.
#include "req_func_config.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "cfg.h"
#include "debug.h"
#include "sys_cmd.h"

namespace wt = wire::transfer;

namespace {

constexpr const char *kSection = "config";
constexpr const char *kStatus = "status";
constexpr std::string_view kComplete = "complete";
// A restore runs config-file validate and then config-file restore on the
// name; a name either command line would cut is refused.
constexpr size_t kMaxRestoreNameLen =
    std::min(toolMaxFileNameLen(kConfigValidateTool), toolMaxFileNameLen(kConfigRestoreTool));
static_assert(kMaxRestoreNameLen == 77, "the documented limit of restore names");

struct Status {
    char text[1024];
};

void readStatus(Status &status) {
    status.text[0] = '\0';
    cfgGet(kSection, kStatus, status.text);
}

void writeStatus(const char *value) {
    cfgSet(kSection, kStatus, value);
}

// How a query answers a status word; `message` may be null, `clears`
// returns the status to empty once the answer has been read.
struct QueryAnswer {
    std::string_view status;
    uint8_t result;
    const char *message;
    bool clears;
};

// The backup query's answer after a second read of a busy status.
constexpr QueryAnswer kBackupAnswers[] = {
    {"", 2, nullptr, false},
    {"complete", 3, nullptr, false},
    {"failed", 1, "Backup failed", false},
};

constexpr QueryAnswer kRestoreAnswers[] = {
    {"", 2, nullptr, false},
    {"config upgrade", 2, nullptr, false},
    {"verifying", 2, nullptr, false},
    {"complete", 3, nullptr, true},
    {"failed", 1, "Verify failed", true},
};

template <size_t N>
const QueryAnswer *findAnswer(const QueryAnswer (&table)[N], std::string_view status) {
    for (const QueryAnswer &answer : table) {
        if (answer.status == status) {
            return &answer;
        }
    }
    return nullptr;
}

void applyAnswer(const QueryAnswer &answer, std::span<uint8_t> reply) {
    setTransferResult(reply, answer.result);
    if (answer.message != nullptr) {
        setTransferMessage(reply, "%s", answer.message);
    }
    if (answer.clears) {
        writeStatus("");
    }
}

void startBackup(std::span<const uint8_t> body, std::span<uint8_t> reply, const Status &status) {
    dbgPrint("SST_CONFIG\n");
    const bool complete = status.text == kComplete;
    if (status.text[0] != '\0' && !complete) {
        setTransferMessage(reply, "\"%s\" is under processing", status.text);
        return;
    }
    TransferTarget target;
    const TargetCheck check = parseTransferTarget(body, target);
    // A finished backup is cleared by any start, but a refused file name
    // leaves the store untouched.
    if (complete && check != TargetCheck::BadFileName) {
        writeStatus("");
    }
    if (check != TargetCheck::Ok) {
        refuseTarget(reply, check, target);
        return;
    }
    setTransferResult(reply, 0);
    writeStatus("config backup");
    enterTmp();
    sysRunCommand("/usr/sbin/config-dump %s >/dev/console 2>&1", target.fileName);
    // Uploaded by TFTP whatever server type was asked for.
    sysRunCommand("tftp -p %s -l %s -r %s", target.address, target.fileName, target.fileName);
    writeStatus("complete");
}

void queryBackup(std::span<uint8_t> reply, Status &status) {
    if (status.text[0] == '\0') {
        setTransferMessage(reply, "\"%s\" isn't running", "config backup");
        return;
    }
    if (status.text == kComplete) {
        setTransferResult(reply, 0);
        return;
    }
    readStatus(status);
    const QueryAnswer *answer = findAnswer(kBackupAnswers, status.text);
    if (answer != nullptr) {
        applyAnswer(*answer, reply);
    }
}

std::unique_ptr<RestoreJob> makeJob(const TransferTarget &target) {
    std::unique_ptr<RestoreJob> job(new (std::nothrow) RestoreJob{});
    if (!job) {
        return job;
    }
    job->uServerType = target.uServerType;
    job->uAddrType = target.uAddrType;
    // An IPv4 text with its terminator fits the first 16 bytes.
    if (target.uAddrType == wt::kAddrIpv4) {
        memcpy(job->ipv4, target.address, sizeof job->ipv4);
    } else {
        memcpy(job->ipv6, target.address, sizeof job->ipv6);
    }
    memcpy(job->fileName, target.fileName, sizeof job->fileName);
    return job;
}

bool startDetachedWorker(RestoreJob *job) {
    pthread_t thread;
    if (pthread_create(&thread, nullptr, configRestoreWorker, job) != 0) {
        return false;
    }
    pthread_detach(thread);
    return true;
}

RestoreWorkerStart g_workerStart = startDetachedWorker;

// Hands the job to the worker; on failure the job stays with the caller,
// which then frees it.
bool startWorker(std::unique_ptr<RestoreJob> &job) {
    if (!g_workerStart(job.get())) {
        return false;
    }
    static_cast<void>(job.release());  // the worker owns it now
    return true;
}

void startRestore(std::span<const uint8_t> body, std::span<uint8_t> reply, const Status &status) {
    dbgPrint("SST_CONFIG\n");
    if (status.text[0] != '\0') {
        setTransferMessage(reply, "\"%s\" is under processing", status.text);
        return;
    }
    TransferTarget target;
    TargetCheck check = parseTransferTarget(body, target);
    // The validation and restore tools' command lines are bounded to 127
    // characters: a longer name would be cut inside its redirection, or
    // validate one file and restore another. Refuse it whole instead.
    if (check == TargetCheck::Ok && strlen(target.fileName) > kMaxRestoreNameLen) {
        check = TargetCheck::BadFileName;
    }
    if (check != TargetCheck::Ok) {
        refuseTarget(reply, check, target);
        return;
    }
    setTransferResult(reply, 0);
    writeStatus("config upgrade");
    std::unique_ptr<RestoreJob> job = makeJob(target);
    if (!job || !startWorker(job)) {
        // Without a worker nobody would ever move the status on.
        writeStatus("failed");
        setTransferResult(reply, 1);
        setTransferMessage(reply, "Cannot start restore worker");
    }
}

void queryRestore(std::span<uint8_t> reply, Status &status) {
    dbgPrint("SST_QUERY\n");
    readStatus(status);
    const QueryAnswer *answer = findAnswer(kRestoreAnswers, status.text);
    if (answer != nullptr) {
        applyAnswer(*answer, reply);
        return;
    }
    setTransferMessage(reply, "\"%s\" isn't running: %s", "config upgrade", status.text);
}

void downloadJobFile(const RestoreJob &job) {
    const char *server = job.uAddrType == wt::kAddrIpv4 ? job.ipv4 : job.ipv6;
    if (job.uServerType == wt::kServerTftp) {
        sysRunCommand("tftp -g %s -l %s -r %s", server, job.fileName, job.fileName);
    } else {
        httpDownload(server, job.fileName);
    }
}

// Shared first and last steps of both handlers' request call.
using StartFn = void (*)(std::span<const uint8_t>, std::span<uint8_t>, const Status &);
using QueryFn = void (*)(std::span<uint8_t>, Status &);

unsigned serveTransfer(const wire::message_t &req,
                       std::span<const uint8_t> body,
                       std::span<uint8_t> pRetMsg,
                       StartFn start,
                       QueryFn query) {
    if (pRetMsg.size() < kTransferReplyLen) {
        return 0;
    }
    std::span<uint8_t> reply = transferReplyBody(pRetMsg);
    Status status;
    readStatus(status);
    const uint8_t sst = transferSubService(body);
    dbgPrint("uSubServiceType=%u\n", sst);
    switch (sst) {
    case wt::SST_CONFIG:
        start(body, reply, status);
        break;
    case wt::SST_QUERY:
        query(reply, status);
        break;
    default:
        setTransferMessage(reply, "Invalid sub-service type %u", sst);
        break;
    }
    return finishTransferReply(req, body, pRetMsg);
}

}  // namespace

void *configRestoreWorker(void *arg) {
    const std::unique_ptr<RestoreJob> job(static_cast<RestoreJob *>(arg));
    enterTmp();
    downloadJobFile(*job);
    writeStatus("verifying");
    if (sysValidateConfigFile(job->fileName)) {
        writeStatus("complete");
        sleep(2);
        sysRestoreConfigFile(job->fileName);
    } else {
        writeStatus("failed");
    }
    return nullptr;
}

void setRestoreWorkerStart(RestoreWorkerStart start) {
    g_workerStart = start != nullptr ? start : startDetachedWorker;
}

unsigned funcConfigBackup(const wire::message_t *pMsg,
                          std::span<const uint8_t> body,
                          std::span<uint8_t> pRetMsg) {
    dbgPrint("FUNC:%s...\n", __func__);
    if (pMsg == nullptr) {
        return 0;
    }
    return serveTransfer(*pMsg, body, pRetMsg, startBackup, queryBackup);
}

unsigned funcConfigUpgrade(const wire::message_t *pMsg,
                           std::span<const uint8_t> body,
                           std::span<uint8_t> pRetMsg) {
    dbgPrint("FUNC:%s...\n", __func__);
    if (pMsg == nullptr) {
        return 0;
    }
    return serveTransfer(*pMsg, body, pRetMsg, startRestore, queryRestore);
}
