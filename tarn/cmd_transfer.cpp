// firmware, config and reboot: the operations that take the device away
// for a while, followed with queries and the device's announcements.
#include <cstdio>
#include <thread>

#include "announcements.h"
#include "commands.h"
#include "errors.h"
#include "fetch.h"
#include "records.h"
#include "results.h"
#include "serve_http.h"
#include "serve_tftp.h"
#include "serving.h"
#include "transfer_flows.h"
#include "upgrade.h"

namespace tarn {

namespace {

using namespace std::chrono_literals;

// What the device is told to fetch or send, and from where: a server the
// administrator runs, or tarn's own, which serves `content` (or receives)
// for as long as the command runs.
struct Source {
    uint8_t serverType = wire::transfer::kServerTftp;
    Server server;
    std::string serverText;
    std::string file;
    std::shared_ptr<const std::string> content;
    std::unique_ptr<TftpServer> tftp;
    std::unique_ptr<HttpServer> http;
};

enum class Kind { Firmware, Backup, Restore };

size_t nameLimit(Kind kind, uint8_t serverType) {
    switch (kind) {
    case Kind::Firmware:
        return serverType == wire::transfer::kServerHttp ? kHttpFirmwareNameLimit : kFileNameLimit;
    case Kind::Backup:
        return kFileNameLimit;
    case Kind::Restore:
        return kRestoreNameLimit;
    }
    return kFileNameLimit;
}

// Starts tarn's own server for `src` on the address that faces the device:
// TFTP on port 69, HTTP on port 80, the ports the device's clients use.
void serveOwn(Session &s,
              Source &src,
              std::vector<std::string> receive = {},
              const std::filesystem::path &receiveDir = {}) {
    ServeConfig c;
    c.address = serveAddress(s.target());
    if (src.content)
        c.files = {{src.file, src.content}};
    c.receiveNames = std::move(receive);
    c.receiveDir = receiveDir;
    c.sender = formatIpv4(s.target().info.ip);
    src.server = serverAddress(c.address);
    src.serverText = c.address;
    if (src.serverType == wire::transfer::kServerTftp) {
        c.port = kTftpPort;
        src.tftp = std::make_unique<TftpServer>(std::move(c));
    } else {
        c.port = kHttpPort;
        src.http = std::make_unique<HttpServer>(std::move(c));
    }
}

// A file tarn serves itself as `name`, by --by tftp|http.
Source servedContent(Args &a,
                     Kind kind,
                     std::string name,
                     std::shared_ptr<const std::string> content) {
    Source src;
    const std::optional<std::string> by = a.value("--by");
    if (by && *by != "http" && *by != "tftp")
        throw UsageError("--by takes tftp or http, not \"" + *by + "\".");
    const bool http = by ? *by == "http" : kind == Kind::Firmware;
    src.serverType = http ? wire::transfer::kServerHttp : wire::transfer::kServerTftp;
    src.file = std::move(name);
    checkDeviceFileName(src.file, nameLimit(kind, src.serverType));
    src.content = std::move(content);
    return src;
}

// --tftp SERVER FILE or --http SERVER FILE (only TFTP for a backup), or the
// file tarn serves itself (`own`: --serve or --from).
Source sourceOption(Args &a, Kind kind, std::string_view own) {
    const bool httpAllowed = kind != Kind::Backup;
    const std::optional<std::string> tftp = a.value("--tftp");
    const std::optional<std::string> http = httpAllowed ? a.value("--http") : std::nullopt;
    const std::optional<std::string> local = a.value(own);
    if (local && !tftp && !http)
        return servedContent(a, kind, std::filesystem::path(*local).filename().string(),
                             readServedFile(*local));
    if (tftp.has_value() == http.has_value() || local)
        throw UsageError("give " + std::string(own) + (kind == Kind::Backup ? " DIR" : " FILE") +
                         (httpAllowed
                              ? ", or the server with either --tftp SERVER or --http SERVER."
                              : ", or the server with --tftp SERVER."));
    Source src;
    src.serverType = tftp ? wire::transfer::kServerTftp : wire::transfer::kServerHttp;
    src.server = serverAddress(tftp ? *tftp : *http);
    src.serverText = tftp ? *tftp : *http;
    src.file = a.positional("file name");
    // The device builds "http://ADDRESS/FILE" without brackets, which no
    // IPv6 address survives.
    if (http && src.server.ipv6)
        throw UsageError("the device cannot download by HTTP from an IPv6 address; use --tftp " +
                         *http + " or an IPv4 HTTP server.");
    checkDeviceFileName(src.file, nameLimit(kind, src.serverType));
    return src;
}

Clock::time_point deadlineAfter(Args &a, double fallback) {
    const std::optional<std::string> v = a.value("--wait-timeout");
    const double seconds = v ? parseSeconds(*v, "--wait-timeout") : fallback;
    return deadlineIn(seconds);
}

std::string elapsedText(Clock::time_point start) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f s", secondsSince(start));
    return buf;
}

// The device answers a backup start after its upload, so its end is near.
constexpr double kUploadEndPatience = 10;

TransferStatus startTransfer(Session &s, uint16_t op, Source &src, const std::string &what) {
    if (src.content && !src.tftp && !src.http)
        serveOwn(s, src);
    return sendStart(s, op, src.serverType, src.server, src.file, what);
}

int firmwareUpgrade(Session &s, Args &a) {
    Source src = sourceOption(a, Kind::Firmware, "--serve");
    const bool noWait = a.flag("--no-wait");
    if (noWait && src.content)
        throw UsageError(
            "--no-wait cannot be used with --serve: tarn's own server stops when "
            "tarn returns, before the device has fetched the image.");
    const Clock::time_point deadline = deadlineAfter(a, 600);
    a.finish();
    s.target();
    // Listen before starting, so the announcement after the restart is not missed.
    Transport announcements(s.interfaces(), wire::kRequestPort);
    startTransfer(s, wire::OP_FIRMWARE_UPGRADE, src, "the firmware upgrade");
    if (noWait) {
        emit(s,
             formatMac(s.target().info.mac) + " started the firmware upgrade from " +
                 src.serverText + ".",
             {text("server", src.serverText), text("file", src.file),
              resultField(kStartResults, 0)});
        return kExitOk;
    }
    const std::string mac = formatMac(s.target().info.mac);
    const UpgradeResult r =
        followUpgrade(s, announcements, deadline, [&](const std::string &stage, long t) {
            progress("upgrading " + mac + ": " + stage + " (" + std::to_string(t) + " s)");
        });
    endProgress();
    switch (r.end) {
    case UpgradeEnd::Refused:
        throw RefusedError(refusedImageText(mac));
    case UpgradeEnd::Lost:
        throw NoReplyError(mac + " did not come back from the firmware upgrade in time.");
    case UpgradeEnd::SameFirmware:
        std::fprintf(
            stderr,
            "tarn: warning: %s restarted with the same firmware %s; the image it took carries "
            "the version it already ran, or the upgrade did not take.\n",
            mac.c_str(), terminalText(r.firmware).c_str());
        break;
    case UpgradeEnd::NewFirmware:
        break;
    }
    const bool same = r.end == UpgradeEnd::SameFirmware;
    emit(s,
         mac + " is back after " + Session::secondsText(r.seconds, 1) + " with firmware " +
             r.firmware + (same ? " (unchanged)." : "."),
         {text("old_firmware", r.oldFirmware), text("firmware", r.firmware),
          boolean("changed", !same), number("seconds", static_cast<long>(r.seconds))});
    return kExitOk;
}

int firmwareStatus(Session &s, Args &a) {
    a.finish();
    const TransferStatus st =
        parseTransfer(s.call(wire::OP_FIRMWARE_UPGRADE, transferQueryBody()).body);
    // The device answers a query with its state code only, never the progress text.
    emit(s, formatMac(s.target().info.mac) + " runs firmware " + s.target().info.firmware + ".",
         {text("firmware", s.target().info.firmware), resultField(kFirmwareQueryResults, st.result),
          text("message", st.message)});
    return kExitOk;
}

int configBackup(Session &s, Args &a) {
    if (const std::optional<std::string> dir = a.value("--to")) {
        a.finish();
        const std::string file = backupInto(s, *dir);
        const std::filesystem::path path = std::filesystem::path(*dir) / file;
        emit(s,
             formatMac(s.target().info.mac) + "'s configuration arrived as " + path.string() + ".",
             {text("file", path.string()), boolean("arrival_known", true)});
        return kExitOk;
    }
    Source src = sourceOption(a, Kind::Backup, "--to");
    a.finish();
    startTransfer(s, wire::OP_CONFIG_BACKUP, src, "the configuration backup");
    // The device finishes the upload before it answers; the query reports
    // that it ran it, whatever the upload's own outcome.
    const TransferStatus st =
        parseTransfer(s.call(wire::OP_CONFIG_BACKUP, transferQueryBody()).body);
    if (st.result != 0)
        throw RefusedError(formatMac(s.target().info.mac) +
                           " reports the backup as not complete: " + resultText(st) + ".");
    emit(s,
         formatMac(s.target().info.mac) + " ran the upload of its configuration to " +
             src.serverText + " as " + src.file +
             "; the device reports only that it ran it, not that the file arrived: look for it on "
             "the server.",
         {text("server", src.serverText), text("file", src.file),
          resultField(kBackupQueryResults, st.result), boolean("arrival_known", false)});
    return kExitOk;
}

// Refuses a backup that says it was made on another device: restoring it
// would give this device the other's MAC, address and name.
void checkOwner(Session &s, const Source &src) {
    const Mac mac = s.target().info.mac;
    const std::string scheme = src.serverType == wire::transfer::kServerTftp ? "tftp" : "http";
    std::string file;
    try {
        file = src.content ? *src.content
                           : fetchFile(scheme, src.serverText, src.file, s.options().timeout * 5);
    } catch (const UsageError &e) {
        throw UsageError(std::string(e.what()) +
                         " tarn reads the file first to check whose it is; give "
                         "--force to restore it unchecked.");
    }
    const std::optional<Mac> owner = backupOwner(file);
    if (owner && *owner != mac)
        throw UsageError(src.file + " is the configuration of " + formatMac(*owner) + ", not of " +
                         formatMac(mac) +
                         ": restoring it would give this device the other's MAC, "
                         "address and name. Give --force to restore it anyway.");
}

int restore(Session &s, Args &a, Source src) {
    const Clock::time_point deadline = deadlineAfter(a, 120);
    const bool force = a.flag("--force");
    a.finish();
    const std::string mac = formatMac(s.target().info.mac);
    if (!force)
        checkOwner(s, src);
    // A finished backup or restore leaves its state behind and the device
    // refuses a new restore until a query has collected it. The query does
    // not disturb a restore that is still running: that one refuses the start.
    s.call(wire::OP_CONFIG_RESTORE, transferQueryBody());
    startTransfer(s, wire::OP_CONFIG_RESTORE, src, "the configuration restore");
    const auto start = Clock::now();
    while (Clock::now() < deadline) {
        std::this_thread::sleep_for(1s);
        const std::optional<Reply> r = s.callOnce(wire::OP_CONFIG_RESTORE, transferQueryBody());
        if (!r) {
            progress("restoring " + mac + ": no answer (" +
                     std::to_string(wholeSecondsSince(start)) + " s)");
            continue;
        }
        const TransferStatus st = parseTransfer(r->body);
        switch (st.result) {
        case 2:
            progress("restoring " + mac + ": running (" + std::to_string(wholeSecondsSince(start)) +
                     " s)");
            continue;
        case 3:
            endProgress();
            emit(s, mac + " restored its configuration from " + src.serverText + ".",
                 {text("server", src.serverText), text("file", src.file),
                  resultField(kRestoreQueryResults, st.result)});
            return kExitOk;
        default:
            endProgress();
            throw RefusedError(mac + " could not restore the configuration: " + resultText(st) +
                               ".");
        }
    }
    endProgress();
    throw NoReplyError(mac + " did not finish the configuration restore in time.");
}

int configRestore(Session &s, Args &a) {
    return restore(s, a, sourceOption(a, Kind::Restore, "--from"));
}

}  // namespace

std::string backupInto(Session &s, const std::filesystem::path &dir) {
    if (std::error_code ec; !std::filesystem::is_directory(dir, ec))
        throw UsageError(dir.string() + " is not a folder.");
    Source src;
    src.file = backupFileName(s.target().info.mac);
    serveOwn(s, src, {src.file}, dir);
    startTransfer(s, wire::OP_CONFIG_BACKUP, src, "the configuration backup");
    // The device answers only after its upload has ended, so the end is
    // known by now or very soon.
    const std::string mac = formatMac(s.target().info.mac);
    const std::optional<TransferEvent> end =
        transferEnd(src.tftp->events(), formatIpv4(s.target().info.ip), src.file,
                    deadlineIn(kUploadEndPatience));
    if (!end)
        throw NoReplyError(mac + " did not upload its configuration to " + src.serverText + ".");
    if (end->state == TransferState::Failed)
        throw RefusedError("the configuration of " + mac + " did not arrive: " + end->reason);
    return src.file;
}

int restoreContent(Session &s,
                   Args &a,
                   const std::string &name,
                   std::shared_ptr<const std::string> content) {
    return restore(s, a, servedContent(a, Kind::Restore, name, std::move(content)));
}

int cmdFirmware(Session &s, Args &a) {
    return runAction(s, a, "firmware", {"upgrade", firmwareUpgrade}, {"status", firmwareStatus});
}

int cmdConfig(Session &s, Args &a) {
    return runAction(s, a, "config", {"backup", configBackup}, {"restore", configRestore});
}

int cmdReboot(Session &s, Args &a) {
    const bool wait = a.flag("--wait");
    const bool yes = a.flag("--yes");
    const Clock::time_point deadline = deadlineAfter(a, 180);
    a.finish();
    const Found dev = s.target();
    confirm(yes, "Reboot " + deviceLabel(dev) + "?");
    const std::string mac = formatMac(dev.info.mac);
    std::optional<Transport> announcements;
    if (wait)
        announcements.emplace(s.interfaces(), wire::kRequestPort);
    s.start(wire::OP_REBOOT, {}, Session::kRestartPatience);
    if (!wait) {
        emit(s, mac + " is rebooting.", {text("mac", mac), boolean("back", false)});
        return kExitOk;
    }
    const auto start = Clock::now();
    progress("waiting for " + mac + " to come back");
    const std::optional<Heard> h = waitForDevice(*announcements, dev.info.mac, deadline);
    endProgress();
    if (!h)
        throw NoReplyError(mac + " did not announce itself again after the reboot in time.");
    emit(s, mac + " is back after " + elapsedText(start) + ".",
         {text("mac", mac), boolean("back", true), number("seconds", wholeSecondsSince(start)),
          text("firmware", h->announcement.firmware)});
    return kExitOk;
}

}  // namespace tarn
