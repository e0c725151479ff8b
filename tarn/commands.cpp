#include "commands.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "check.h"
#include "errors.h"
#include "exporter.h"

namespace tarn {

namespace {

constexpr std::array kCommands{
    Command{"discover", "discover", "list the devices on the segment",
            "Broadcasts a discovery request and lists every device that answers within -t\n"
            "seconds (default 2): MAC, IPv4, name, model, firmware, IPv6, DHCP and the\n"
            "round-trip time of its reply. --json prints an array of objects.",
            cmdDiscover},
    Command{"info", "-d DEVICE info", "show everything discovery reports about one device",
            "Finds the device by discovery and prints every field of its reply.", cmdInfo},
    Command{"neighbor", "[-d DEVICE] neighbor", "ask devices for their neighbour record",
            "Without -d, broadcasts the neighbour query and lists every device that answers;\n"
            "with -d, asks that device alone.",
            cmdNeighbor},
    Command{"ops", "-d DEVICE ops", "list the operations the device supports",
            "Asks the device for its list of operations (credentials needed) and names\n"
            "each with the tarn command that uses it.",
            cmdOps},
    Command{"listen", "listen [--count N] [--timeout S]", "print announcements as they arrive",
            "Prints each announcement that devices broadcast every 30 seconds, one line each\n"
            "with the time it arrived (one JSON object per line with --json). Stops after N\n"
            "announcements or S seconds; without either it runs until interrupted. Exits 3\n"
            "when none arrived.",
            cmdListen},
    Command{"watch",
            "watch [--timeout S] [--lost-after S] [--forget-after S] [--max-devices N]\n"
            "            [--exec CMD]",
            "print an event for each change on the segment",
            "Discovers the devices, then follows their announcements and prints one line per\n"
            "event, with its time: appeared, lost (silent for --lost-after seconds, default\n"
            "95: three missed announcements; more than 30), back, and changed (for ipv4, ipv6,\n"
            "name or firmware, with the previous value). --json prints one object per line.\n"
            "--exec runs CMD with /bin/sh for each event, one at a time, with the event in its\n"
            "environment (TARN_EVENT, TARN_MAC, TARN_NAME, ..., TARN_JSON). Runs for --timeout\n"
            "seconds or until interrupted. --forget-after and --max-devices as for exporter.",
            cmdWatch},
    Command{"exporter",
            "exporter --listen ADDRESS:PORT [--lost-after S] [--discovery-interval S]\n"
            "               [--forget-after S] [--max-devices N]",
            "serve Prometheus metrics of the devices on the segment",
            "Follows the announcements, discovers the devices at start and every\n"
            "--discovery-interval seconds (default 60; 0: at start only), and serves\n"
            "/metrics over HTTP on ADDRESS:PORT (192.0.2.1:9472, [2001:db8::1]:9472, :9472).\n"
            "A device is down after --lost-after seconds of silence (default 95), which must\n"
            "be more than the time between two signs of life, and forgotten after\n"
            "--forget-after seconds (default 86400). At most --max-devices devices are kept\n"
            "(default 4096); new ones beyond are dropped and counted. Stops on SIGINT or\n"
            "SIGTERM.",
            cmdExporter},
    Command{"check", "-d DEVICE check [--max-age S] [--firmware VERSION] [--state-dir DIR]",
            "check one device, as a monitoring plugin",
            "Prints one status line with performance data and exits 0 OK, 1 WARNING,\n"
            "2 CRITICAL or 3 UNKNOWN. OK: the device answered discovery; WARNING: it runs\n"
            "another firmware than --firmware, or it did not answer but answered a check\n"
            "less than --max-age seconds ago (default 90); CRITICAL: silent longer, or never\n"
            "seen; UNKNOWN: the check itself failed. The time of the last answer is kept in\n"
            "DIR (default /var/lib/tarn/check).",
            cmdCheck},
    Command{"set",
            "-d DEVICE set [--name NAME] [--dhcp | --ip A --mask M --gateway G]\n"
            "          [--dns DNS1[,DNS2] | --dns-dhcp] [--ipv6-auto | --ipv6 ADDR/PREFIX]",
            "change the name and the management network settings",
            "The device applies every field of this request, so tarn reads the current\n"
            "values by discovery and changes only those given. --ip, --mask and --gateway\n"
            "switch DHCP off; a missing one keeps its current value.",
            cmdSet},
    Command{"verify", "-d DEVICE verify", "check that the credentials are the administrator's",
            "Exits 0 when user and password are the administrator's, 1 when the password is\n"
            "right but the user name is not the administrator's.",
            cmdVerify},
    Command{"passwd", "-d DEVICE passwd [--new-password-file FILE]",
            "change the administrator password",
            "Asks for the new password twice (or reads the first line of FILE). The device\n"
            "refuses the characters @ : - / \\ % \" ' and changes only the password of user\n"
            "admin (result 1001 otherwise; 1006 for a refused character). tarn also refuses\n"
            "$ and `, which the device would store with a backslash in front.",
            cmdPasswd},
    Command{"ddns",
            "-d DEVICE ddns get [--show-password]\n"
            "       -d DEVICE ddns set [--user U] [--domain D] [--ddns-password-file FILE]",
            "read or change the dynamic-DNS account",
            "set reads the current values first and changes only those given; the device\n"
            "switches dynamic DNS on with every set.",
            cmdDdns},
    Command{"commit", "-d DEVICE commit", "save the running settings",
            "Asks the device to save its running settings as its start-up settings.", cmdCommit},
    Command{"factory-reset", "-d DEVICE factory-reset [--keep-ip]", "reset to factory settings",
            "Resets the device after it has answered. --keep-ip keeps a static IPv4 address,\n"
            "mask and gateway across the reset.",
            cmdFactoryReset},
    Command{"netstatus", "-d DEVICE netstatus", "show the current IPv4 address",
            "Shows the management interface's current IPv4 address and whether it is a\n"
            "link-local address.",
            cmdNetstatus},
    Command{"time",
            "-d DEVICE time get\n"
            "       -d DEVICE time set [--date YYYYMMDDhhmmss|now] [--timezone N] [--dst on|off]\n"
            "                          [--ntp SERVER | --no-ntp]",
            "read or send the date, time and NTP settings",
            "set reads the current values first and changes only those given.", cmdTime},
    Command{"vlan", "-d DEVICE vlan ID", "set the management VLAN",
            "Sets the management VLAN id (0 to 4094). Result 3 means the device refused it.",
            cmdVlan},
    Command{"snmp", "-d DEVICE snmp on|off --ro COMMUNITY --rw COMMUNITY",
            "switch the SNMP agent and set its communities",
            "The device writes both communities with every request, so both are required.\n"
            "This request carries no credentials.",
            cmdSnmp},
    Command{"wlan",
            "-d DEVICE wlan get --radio 2.4|5 [--show-keys]\n"
            "       -d DEVICE wlan set --radio 2.4|5 --vap N [--ssid S] [--vlan V]\n"
            "                          [--security NAME] [--key K]",
            "read or change the eight wireless networks of a radio",
            "VAP 0 is the radio's main network, 1 to 7 the others. Security names:\n"
            "static-wep, wpa-personal, wpa-enterprise, wpa2-personal, wpa2-enterprise, open.\n"
            "set reads all eight networks, changes one and writes all eight back. Keys are\n"
            "shown only with --show-keys. Save the change with tarn commit.",
            cmdWlan},
    Command{"firmware",
            "-d DEVICE firmware upgrade --http|--tftp SERVER FILE [--no-wait] [--wait-timeout S]\n"
            "       -d DEVICE firmware status",
            "upgrade the firmware from a file server",
            "upgrade starts the upgrade and follows it until the device restarts and\n"
            "announces itself again (default at most 600 s). SERVER is an IPv4 or IPv6\n"
            "address.",
            cmdFirmware},
    Command{"config",
            "-d DEVICE config backup --tftp SERVER FILE\n"
            "       -d DEVICE config restore --tftp|--http SERVER FILE [--wait-timeout S]",
            "back up or restore the configuration",
            "backup uploads the configuration to a TFTP server. restore downloads, checks\n"
            "and applies a configuration file and follows it until it completes or fails\n"
            "(default at most 120 s).",
            cmdConfig},
    Command{"reboot", "-d DEVICE reboot [--wait] [--wait-timeout S]", "reboot the device",
            "With --wait, waits until the device announces itself again (default at most\n"
            "180 s).",
            cmdReboot},
};

bool g_progressShown = false;
std::string g_lastProgress;  // without its "(N s)" part, for logs

}  // namespace

std::span<const Command> commandTable() {
    return kCommands;
}

const Command *findCommand(std::string_view name) {
    for (const Command &c : kCommands)
        if (c.name == name)
            return &c;
    return nullptr;
}

void emit(const Session &s, const std::string &sentence, const Record &record) {
    if (s.options().json) {
        std::printf("%s\n", toJson(record).c_str());
        return;
    }
    if (!sentence.empty())
        std::printf("%s\n", sentence.c_str());
    std::printf("%s", toLines(record).c_str());
}

void emitList(const Session &s, const std::vector<Record> &records,
              const std::vector<Column> &columns) {
    std::printf("%s", s.options().json ? toJson(records).c_str() : toTable(records, columns).c_str());
}

void progress(const std::string &line) {
    if (isatty(STDERR_FILENO)) {
        std::fprintf(stderr, "\r%s\033[K", line.c_str());
        g_progressShown = true;
    } else if (const std::string state = line.substr(0, line.find(" (")); state != g_lastProgress) {
        // Not a terminal: one line per change of state, not per second.
        std::fprintf(stderr, "%s\n", line.c_str());
        g_lastProgress = state;
    }
    std::fflush(stderr);
}

void endProgress() {
    if (g_progressShown)
        std::fprintf(stderr, "\n");
    g_progressShown = false;
}

int runAction(Session &s, Args &a, std::string_view command, const Action &first,
              const Action &second) {
    const std::string choices = std::string(first.name) + " or " + std::string(second.name);
    const std::string verb = a.positional(std::string(command) + " action (" + choices + ")");
    for (const Action *action : {&first, &second}) {
        if (verb == action->name)
            return action->run(s, a);
    }
    throw UsageError(std::string(command) + " takes " + choices + ", not \"" + verb + "\".");
}

void checkWidth(const std::string &value, size_t width, std::string_view what) {
    if (value.size() > width)
        throw UsageError(std::string(what) + " is longer than the device's field of " +
                         std::to_string(width) + " bytes.");
}

void expectResultZero(const Reply &reply, const std::string &what) {
    const uint32_t result = parseResult(reply.body);
    if (result == 0)
        return;
    Mac mac{};
    std::copy(std::begin(reply.header.ucMac), std::end(reply.header.ucMac), mac.begin());
    throw RefusedError(formatMac(mac) + " refused " + what + " (result " + std::to_string(result) +
                       ").");
}

}  // namespace tarn
