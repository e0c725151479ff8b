#include "commands.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "errors.h"

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
            "(one JSON object per line with --json). Stops after N announcements or S seconds;\n"
            "without either it runs until interrupted. Exits 3 when none arrived.",
            cmdListen},
    Command{"watch", "watch [--timeout S] [--lost-after S]", "keep a live list of the devices",
            "Discovers the devices, then follows their announcements: prints \"new\" for a\n"
            "device that appears and \"lost\" for one that missed three announcements\n"
            "(--lost-after, default 95 s). Runs for --timeout seconds or until interrupted.",
            cmdWatch},
    Command{"set",
            "-d DEVICE set [--name NAME] [--dhcp | --ip A --mask M --gateway G]\n"
            "          [--dns DNS1[,DNS2] | --dns-dhcp] [--ipv6-auto | --ipv6 ADDR/PREFIX]",
            "change the name and the management network settings",
            "The device applies every field of this request, so tarn reads the current\n"
            "values by discovery and changes only those given, and names the ones it wrote\n"
            "back. --ip, --mask and --gateway switch DHCP off; a missing one keeps its\n"
            "current value. A contiguous mask, a gateway on the address's subnet, a name\n"
            "and at most two DNS servers are required. A name that fills its 64-byte field\n"
            "may have been cut and must be given with --name. Exits 1 when discovery\n"
            "still reports other values afterwards.",
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
            "switches dynamic DNS on with every set. Exits 1 when the device still reports\n"
            "other values afterwards.",
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
            "       -d DEVICE time set [--date YYYYMMDDhhmmss|now] [--timezone H] [--dst on|off]\n"
            "                          [--ntp SERVER | --no-ntp]",
            "read or send the date, time and NTP settings",
            "set reads the current values first and changes only those given. --timezone\n"
            "takes whole hours from UTC, -12 to 14. Exits 1 when the device still reports\n"
            "other values afterwards.",
            cmdTime},
    Command{"vlan", "-d DEVICE vlan ID", "set the management VLAN",
            "Sets the management VLAN id (0 to 4094). Result 3 means the device refused it.\n"
            "The protocol cannot read it back.",
            cmdVlan},
    Command{"snmp", "-d DEVICE snmp on|off --ro COMMUNITY --rw COMMUNITY",
            "switch the SNMP agent and set its communities",
            "The device writes both communities with every request, so both are required.\n"
            "This request carries no credentials, and the protocol cannot read it back.",
            cmdSnmp},
    Command{"wlan",
            "-d DEVICE wlan get --radio 2.4|5 [--show-keys]\n"
            "       -d DEVICE wlan set --radio 2.4|5 --vap N [--ssid S] [--vlan V]\n"
            "                          [--security NAME] [--key K]\n"
            "                          [--ssid-for N=S] [--vlan-for N=V] [--key-for N=K]",
            "read or change the eight wireless networks of a radio",
            "VAP 0 is the radio's main network, 1 to 7 the others. Security names:\n"
            "static-wep, wpa-personal, wpa-enterprise, wpa2-personal, wpa2-enterprise, open.\n"
            "set reads all eight networks, changes one and writes all eight back, then reads\n"
            "them again. A value that fills its field (SSID 32, VLAN 4, key 16 bytes) may\n"
            "have been cut and is never written back: give it with --ssid-for, --vlan-for\n"
            "or --key-for N=VALUE for network N. Keys: WPA 8 to 16 characters, WEP 5 or 13\n"
            "characters or 10 hex digits; switching to a keyed security needs --key. Keys\n"
            "are shown only with --show-keys. Save the change with tarn commit.",
            cmdWlan},
    Command{"firmware",
            "-d DEVICE firmware upgrade --http|--tftp SERVER FILE [--no-wait] [--wait-timeout S]\n"
            "       -d DEVICE firmware status",
            "upgrade the firmware from a file server",
            "upgrade starts the upgrade and follows its progress until the device restarts\n"
            "(default at most 600 s); a refused image ends it at once with status 1, and a\n"
            "restart with the same version with a warning. SERVER is an IPv4 or IPv6\n"
            "address.",
            cmdFirmware},
    Command{"config",
            "-d DEVICE config backup --tftp SERVER FILE\n"
            "       -d DEVICE config restore --tftp|--http SERVER FILE [--wait-timeout S] [--force]",
            "back up or restore the configuration",
            "backup has the device upload its configuration to a TFTP server; the device\n"
            "reports only that it ran the upload. restore reads the file first and refuses\n"
            "one made on another device unless --force; the device then downloads, checks\n"
            "and applies it, and tarn follows it until it completes or fails (default at\n"
            "most 120 s).",
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
