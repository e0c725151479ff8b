// firmware, config and reboot: the operations that take the device away
// for a while, followed with queries and the device's announcements.
#include <cstdio>
#include <thread>

#include "announcements.h"
#include "commands.h"
#include "errors.h"
#include "records.h"

namespace tarn {

namespace {

using namespace std::chrono_literals;

struct Source {
    uint8_t serverType;
    Server server;
    std::string serverText;
    std::string file;
};

Server serverAddress(const std::string &text) {
    Server s;
    if (std::optional<Ipv4> v4 = parseIpv4(text)) {
        s.v4 = *v4;
        return s;
    }
    if (std::optional<Ipv6> v6 = parseIpv6(text)) {
        s.ipv6 = true;
        s.v6 = *v6;
        return s;
    }
    throw UsageError("the server must be an IPv4 or IPv6 address, not \"" + text + "\".");
}

// --tftp SERVER FILE or --http SERVER FILE (only TFTP when `httpAllowed` is false).
Source sourceOption(Args &a, bool httpAllowed) {
    const std::optional<std::string> tftp = a.value("--tftp");
    const std::optional<std::string> http = httpAllowed ? a.value("--http") : std::nullopt;
    if (tftp.has_value() == http.has_value())
        throw UsageError(httpAllowed ? "give the server with either --tftp SERVER or --http SERVER."
                                     : "give the server with --tftp SERVER.");
    Source src{tftp ? wire::transfer::kServerTftp : wire::transfer::kServerHttp,
               serverAddress(tftp ? *tftp : *http), tftp ? *tftp : *http,
               a.positional("file name")};
    // The device reads the name as terminated text in a 128-byte field.
    checkWidth(src.file, wire::transfer::kFileLen - 1, "the file name");
    return src;
}

Clock::time_point deadlineAfter(Args &a, double fallback) {
    const std::optional<std::string> v = a.value("--wait-timeout");
    const double seconds = v ? parseSeconds(*v, "--wait-timeout") : fallback;
    return deadlineIn(seconds);
}

long secondsSince(Clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count());
}

std::string elapsedText(Clock::time_point start) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f s",
                  std::chrono::duration<double>(Clock::now() - start).count());
    return buf;
}

// An HTTP firmware download and a backup run before the device answers.
constexpr double kStartPatience = 120;

TransferStatus startTransfer(Session &s, uint16_t op, const Source &src, const std::string &what) {
    TransferStatus st = parseTransfer(
        s.call(op, transferStartBody(src.serverType, src.server, src.file), kStartPatience).body);
    if (st.result != 0)
        throw RefusedError(formatMac(s.target().info.mac) + " refused " + what + ": " +
                           (st.message.empty() ? "result " + std::to_string(st.result) : st.message) +
                           ".");
    return st;
}

// Follows an upgrade until the device comes back: it is back when it
// announces itself after having stopped answering, or with a new version.
int followUpgrade(Session &s, Transport &announcements, Clock::time_point deadline) {
    const Found dev = s.target();
    const std::string mac = formatMac(dev.info.mac);
    const auto start = Clock::now();
    bool silent = false;
    while (Clock::now() < deadline) {
        if (s.callOnce(wire::OP_FIRMWARE_UPGRADE, transferQueryBody())) {
            progress("upgrading " + mac + ": the device is busy (" + std::to_string(secondsSince(start)) + " s)");
        } else {
            if (!silent)
                // What was announced before the silence says nothing about the new firmware.
                while (nextAnnouncement(announcements, Clock::now()))
                    continue;
            silent = true;
            progress("upgrading " + mac + ": the device is restarting (" + std::to_string(secondsSince(start)) + " s)");
        }
        const auto wake = std::min(deadline, Clock::now() + 2s);
        while (std::optional<Heard> h = waitForDevice(announcements, dev.info.mac, wake)) {
            if (!silent && h->announcement.firmware == dev.info.firmware)
                continue;
            endProgress();
            emit(s, mac + " is back after " + elapsedText(start) + " with firmware " +
                        h->announcement.firmware + ".",
                 {text("mac", mac), text("old_firmware", dev.info.firmware),
                  text("firmware", h->announcement.firmware), number("seconds", secondsSince(start))});
            return kExitOk;
        }
    }
    endProgress();
    throw NoReplyError(mac + " did not come back from the firmware upgrade in time.");
}

int firmwareUpgrade(Session &s, Args &a) {
    const Source src = sourceOption(a, true);
    const bool noWait = a.flag("--no-wait");
    const Clock::time_point deadline = deadlineAfter(a, 600);
    a.finish();
    s.target();
    // Listen before starting, so the announcement after the restart is not missed.
    Transport announcements(s.interfaces(), wire::kRequestPort);
    startTransfer(s, wire::OP_FIRMWARE_UPGRADE, src, "the firmware upgrade");
    if (noWait) {
        emit(s, formatMac(s.target().info.mac) + " started the firmware upgrade from " + src.serverText + ".",
             {text("server", src.serverText), text("file", src.file), number("result", 0)});
        return kExitOk;
    }
    return followUpgrade(s, announcements, deadline);
}

int firmwareStatus(Session &s, Args &a) {
    a.finish();
    const TransferStatus st = parseTransfer(s.call(wire::OP_FIRMWARE_UPGRADE, transferQueryBody()).body);
    // The device answers a query with its state code only, never the progress text.
    emit(s, formatMac(s.target().info.mac) + " runs firmware " + s.target().info.firmware + ".",
         {text("firmware", s.target().info.firmware), number("result", st.result),
          text("message", st.message)});
    return kExitOk;
}

int configBackup(Session &s, Args &a) {
    const Source src = sourceOption(a, false);
    a.finish();
    startTransfer(s, wire::OP_CONFIG_BACKUP, src, "the configuration backup");
    // The device finishes the upload before it answers; the query confirms it.
    const TransferStatus st = parseTransfer(s.call(wire::OP_CONFIG_BACKUP, transferQueryBody()).body);
    if (st.result != 0)
        throw RefusedError(formatMac(s.target().info.mac) + " reports the backup as not complete: " +
                           (st.message.empty() ? "result " + std::to_string(st.result) : st.message) + ".");
    emit(s, formatMac(s.target().info.mac) + " sent its configuration to " + src.serverText + " as " +
                src.file + ".",
         {text("server", src.serverText), text("file", src.file), number("result", 0)});
    return kExitOk;
}

int configRestore(Session &s, Args &a) {
    const Source src = sourceOption(a, true);
    const Clock::time_point deadline = deadlineAfter(a, 120);
    a.finish();
    const std::string mac = formatMac(s.target().info.mac);
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
            progress("restoring " + mac + ": no answer (" + std::to_string(secondsSince(start)) + " s)");
            continue;
        }
        const TransferStatus st = parseTransfer(r->body);
        switch (st.result) {
        case 2:
            progress("restoring " + mac + ": running (" + std::to_string(secondsSince(start)) + " s)");
            continue;
        case 3:
            endProgress();
            emit(s, mac + " restored its configuration from " + src.serverText + ".",
                 {text("server", src.serverText), text("file", src.file), number("result", 3)});
            return kExitOk;
        default:
            endProgress();
            throw RefusedError(mac + " could not restore the configuration: " +
                               (st.message.empty() ? "result " + std::to_string(st.result) : st.message) +
                               ".");
        }
    }
    endProgress();
    throw NoReplyError(mac + " did not finish the configuration restore in time.");
}

}  // namespace

int cmdFirmware(Session &s, Args &a) {
    return runAction(s, a, "firmware", {"upgrade", firmwareUpgrade}, {"status", firmwareStatus});
}

int cmdConfig(Session &s, Args &a) {
    return runAction(s, a, "config", {"backup", configBackup}, {"restore", configRestore});
}

int cmdReboot(Session &s, Args &a) {
    const bool wait = a.flag("--wait");
    const Clock::time_point deadline = deadlineAfter(a, 180);
    a.finish();
    const Found dev = s.target();
    const std::string mac = formatMac(dev.info.mac);
    std::optional<Transport> announcements;
    if (wait)
        announcements.emplace(s.interfaces(), wire::kRequestPort);
    s.call(wire::OP_REBOOT, {});
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
         {text("mac", mac), boolean("back", true), number("seconds", secondsSince(start)),
          text("firmware", h->announcement.firmware)});
    return kExitOk;
}

}  // namespace tarn
