#include "commands.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <iostream>

#include "check.h"
#include "errors.h"
#include "exporter.h"
#include "results.h"

namespace tarn {

namespace {

constexpr const char *kGlobalHelp =
    "usage: tarn [options] COMMAND [command options]\n"
    "       tarn help [COMMAND]\n"
    "       tarn --version\n"
    "\n"
    "Finds and manages access points on the local network segment by UDP broadcast.\n"
    "\n"
    "options (before or after the command):\n"
    "  -i, --interface IFACE  use this interface (repeat or separate with commas);\n"
    "                         default: every interface that is up with an IPv4\n"
    "                         broadcast address\n"
    "  -d, --device DEVICE    the device to manage: its MAC (00:11:22:33:44:55) or\n"
    "                         IPv4 address\n"
    "  -t, --timeout SECONDS  time to wait for replies per try, and for discovery\n"
    "                         (default 2)\n"
    "  -r, --retries N        retries after an unanswered request (default 2)\n"
    "  -u, --user USER        user name for protected operations (default admin)\n"
    "  --password-file FILE   read the password from the first line of FILE;\n"
    "                         otherwise TARN_PASSWORD, otherwise a prompt without echo\n"
    "  --json                 print JSON instead of tables and text\n"
    "  -h, --help             show this help, or a command's help after the command\n"
    "  --version              print the version of tarn\n"
    "\n"
    "A short option also takes its value attached (-d192.0.2.12). Give a value that\n"
    "begins with - as --option=VALUE. After listen and watch, --timeout is theirs;\n"
    "after ddns, --user is.\n"
    "\n"
    "exit status: 0 done, 1 refused by the device, accepted but not taken,\n"
    "conflicting replies or not confirmed, 2 usage error or a value tarn will not\n"
    "send, 3 no reply, 4 changes pending (plan)\n"
    "\n"
    "commands:\n";

constexpr std::array kCommands{
    Command{"help", "help [COMMAND]", "show this help, or the help of a command",
            "Without a command, lists the options and commands; with one, shows its usage\n"
            "(the same as tarn COMMAND --help).",
            cmdHelp},
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
            cmdListen, "--timeout"},
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
            cmdWatch, "--timeout"},
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
            "other values afterwards. After ddns, --user is the account's; give the\n"
            "administrator as -u or before ddns.",
            cmdDdns, "--user"},
    Command{"commit", "-d DEVICE commit", "save the running settings",
            "Asks the device to save its running settings as its start-up settings.", cmdCommit},
    Command{"factory-reset", "-d DEVICE factory-reset [--keep-ip] [--yes]",
            "reset to factory settings",
            "Resets the device after it has answered. --keep-ip keeps a static IPv4 address,\n"
            "mask and gateway across the reset. Asks first when standard input is a\n"
            "terminal; --yes (-y) does not ask.",
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
    Command{"snmp",
            "-d DEVICE snmp on|off [--ro COMMUNITY | --ro-file FILE]\n"
            "                          [--rw COMMUNITY | --rw-file FILE]",
            "switch the SNMP agent and set its communities",
            "The device writes both communities with every request, so both are needed.\n"
            "Each comes from its option, the first line of its file, TARN_SNMP_RO or\n"
            "TARN_SNMP_RW, or a prompt without echo. This request carries no credentials,\n"
            "and the protocol cannot read it back.",
            cmdSnmp},
    Command{"wlan",
            "-d DEVICE wlan get --radio 2.4|5 [--show-keys]\n"
            "       -d DEVICE wlan set --radio 2.4|5 --vap N [--ssid S] [--vlan V]\n"
            "                          [--security NAME] [--key K | --key-file FILE]\n"
            "                          [--ssid-for N=S] [--vlan-for N=V] [--key-for N=K]",
            "read or change the eight wireless networks of a radio",
            "VAP 0 is the radio's main network, 1 to 7 the others. Security names:\n"
            "static-wep, wpa-personal, wpa-enterprise, wpa2-personal, wpa2-enterprise, open.\n"
            "set reads all eight networks, changes one and writes all eight back, then reads\n"
            "them again. A value that fills its field (SSID 32, VLAN 4, key 16 bytes) may\n"
            "have been cut and is never written back: give it with --ssid-for, --vlan-for\n"
            "or --key-for N=VALUE for network N. A key comes from --key, the first line of\n"
            "--key-file, or, when --security names a keyed mode, TARN_WLAN_KEY or a prompt\n"
            "without echo. Keys: WPA 8 to 16 characters, WEP 5 or 13 characters or 10 hex\n"
            "digits; switching to a keyed security needs a key. Keys are shown only with\n"
            "--show-keys. Save the change with tarn commit.",
            cmdWlan},
    Command{
        "firmware",
        "-d DEVICE firmware upgrade --http|--tftp SERVER FILE | --serve IMAGE [--by http|tftp]\n"
        "                                  [--no-wait] [--wait-timeout S]\n"
        "       -d DEVICE firmware status",
        "upgrade the firmware from a file server",
        "upgrade starts the upgrade and follows its progress until the device restarts\n"
        "(default at most 600 s); a refused image ends it at once with status 1, and a\n"
        "restart with the same version with a warning. SERVER is an IPv4 or IPv6\n"
        "address. --serve serves IMAGE from tarn itself for the length of the command,\n"
        "by HTTP (port 80) or TFTP (port 69) on the address of the interface that faces\n"
        "the device; binding needs root or CAP_NET_BIND_SERVICE.",
        cmdFirmware},
    Command{
        "config",
        "-d DEVICE config backup --tftp SERVER FILE | --to DIR\n"
        "       -d DEVICE config restore --tftp|--http SERVER FILE | --from FILE [--by tftp|http]\n"
        "                                [--wait-timeout S] [--force]",
        "back up or restore the configuration",
        "backup has the device upload its configuration to a TFTP server; the device\n"
        "reports only that it ran the upload. With --to, tarn's own TFTP server takes\n"
        "the upload into DIR as MAC.cfg (02-00-00-00-00-01.cfg) and tarn waits until it\n"
        "has arrived. restore reads the file first and refuses one made on another\n"
        "device unless --force; the device then downloads, checks and applies it, and\n"
        "tarn follows it until it completes or fails (default at most 120 s). --from\n"
        "serves FILE from tarn itself (TFTP unless --by http).",
        cmdConfig},
    Command{"reboot", "-d DEVICE reboot [--yes] [--wait] [--wait-timeout S]", "reboot the device",
            "With --wait, waits until the device announces itself again (default at most\n"
            "180 s). Asks first when standard input is a terminal; --yes (-y) does not ask.",
            cmdReboot},
    Command{
        "rollout",
        "rollout IMAGE (--to MAC|MANIFEST ... | --all) [--http|--tftp SERVER] [--canary N]\n"
        "            [--wave N] [--max-failures K] [--version V] [--wait-timeout S]\n"
        "            [--state FILE]\n"
        "       tarn [options] rollout --resume [--wave N] [--max-failures K] [--wait-timeout S]\n"
        "            [--state FILE]",
        "upgrade many devices in stages, halting at the first failures",
        "Checks IMAGE, then upgrades the devices named with --to (MACs, or the devices of a\n"
        "fleet manifest, in that order) or every device of the segment (--all), skipping\n"
        "those already on its version: first a canary wave of --canary devices (default\n"
        "1), then waves of --wave devices in parallel (default 5). tarn serves the image\n"
        "itself over HTTP, or the devices fetch its file name from SERVER. Each device\n"
        "must come back announcing the new version within --wait-timeout seconds\n"
        "(default 600). Halts once --max-failures devices failed (default 1), leaving the\n"
        "rest untouched, and ends with a summary. --version names the version the devices\n"
        "report when it differs from the image's. The state is kept in FILE (default\n"
        "tarn-rollout.state in the current folder); --resume continues from it, failed\n"
        "devices first.",
        cmdRollout, "--version"},
    Command{"export",
            "export --all [--env-file FILE]\n"
            "       -d MAC[,MAC...] export [--env-file FILE]",
            "write the devices' settings as a fleet manifest",
            "Reads every setting the protocol can read from each device, 16 at once, and\n"
            "prints a YAML manifest for plan and apply. Keys and passwords are written as\n"
            "env:NAME references, and the variables are named on standard error; --env-file\n"
            "writes their values as NAME='value' lines, readable by the owner only.",
            cmdExport},
    Command{"plan", "plan MANIFEST [--write-only]", "show what apply would change",
            "Reads the devices of a manifest, 16 at once, and lists what differs field by\n"
            "field (secrets as (changed)), the devices that did not answer and those the\n"
            "manifest does not name. The management VLAN and SNMP cannot be read back:\n"
            "--write-only counts them as changes. Exits 0 when nothing differs, 4 when\n"
            "changes are pending.",
            cmdPlan},
    Command{"apply", "apply MANIFEST [--yes] [--write-only]", "make the devices match a manifest",
            "Shows the plan and asks first when standard input is a terminal (--yes does\n"
            "not ask), then writes each device's changes, 16 devices at once: the address\n"
            "last, then a commit, then reads every field back. Ends with a table of each\n"
            "device's changes, whether they were verified, and its error.",
            cmdApply},
    Command{"lint", "lint MANIFEST [--live]", "check a fleet manifest for unwise settings",
            "Checks the settings of a manifest, or with --live the settings its devices\n"
            "report, for open and WEP networks, WPA keys outside 8 to 16 bytes, an SSID\n"
            "with different security or keys, default SNMP communities, duplicate static\n"
            "addresses and names, gateways off the subnet, VLAN ids outside 1 to 4094 and\n"
            "secrets written inline. Each finding has a stable code and a severity; exits 1\n"
            "when any is an error. --live reads each device's wireless networks, which\n"
            "needs the administrator's password; a device that cannot be read is named and\n"
            "left out, and the exit status is then its failure's (3: no reply). A device\n"
            "cannot report its SNMP settings or management VLAN, so --live checks neither.",
            cmdLint},
    Command{"backup", "backup --all --to DIR\n       -d DEVICE backup --to DIR",
            "back up the configuration of every device into a folder",
            "Has each device (every device on the segment with --all) upload its\n"
            "configuration to tarn's own TFTP server into DIR as MAC.cfg, and writes\n"
            "DIR/manifest.json: each device's MAC, name, address, firmware, file, time\n"
            "and outcome (added, changed, unchanged or failed). When DIR is in a git work\n"
            "tree, the run is committed with a message that lists the devices by outcome.\n"
            "Files arrive under a temporary name and are renamed once complete. Exits 1\n"
            "when a device's backup failed.",
            cmdBackup},
    Command{"restore",
            "-d DEVICE restore --from DIR [--at COMMIT] [--by tftp|http] [--wait-timeout S]\n"
            "                  [--force]",
            "restore a device's configuration from a folder of backups",
            "Serves the device's MAC.cfg from DIR, or as it was at COMMIT (a commit id, tag\n"
            "or HEAD~N) when DIR is in a git work tree, and restores it as config restore\n"
            "--from does.",
            cmdRestore},
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

std::string_view globalHelpText() {
    return kGlobalHelp;
}

void printGlobalHelp() {
    std::printf("%s", kGlobalHelp);
    for (const Command &c : kCommands)
        std::printf("  %-14s %s\n", std::string(c.name).c_str(), std::string(c.summary).c_str());
    std::printf("\nSee tarn help COMMAND and the manual page tarn(1).\n");
}

void printCommandHelp(const Command &c) {
    std::printf("usage: tarn [options] %s\n\n%s\n\n%s\n", std::string(c.usage).c_str(),
                std::string(c.summary).c_str(), std::string(c.details).c_str());
}

int cmdHelp(Session &, Args &a) {
    const std::optional<std::string> name = a.positional();
    a.finish();
    if (!name) {
        printGlobalHelp();
        return kExitOk;
    }
    const Command *cmd = findCommand(*name);
    if (!cmd)
        throw UsageError("unknown command \"" + *name + "\"; see tarn help.");
    printCommandHelp(*cmd);
    return kExitOk;
}

namespace {

// JSON objects name their device even where the text's sentence does.
Record withMac(Session &s, Record record) {
    const bool named =
        std::any_of(record.begin(), record.end(), [](const Field &f) { return f.key == "mac"; });
    if (!named)
        record.insert(record.begin(), text("mac", formatMac(s.target().info.mac)));
    return record;
}

}  // namespace

void emit(Session &s, const std::string &sentence, const Record &record) {
    if (s.options().json) {
        std::printf("%s\n", toJson(withMac(s, record)).c_str());
        return;
    }
    if (!sentence.empty())
        std::printf("%s\n", terminalText(sentence).c_str());
    std::printf("%s", toLines(record).c_str());
}

void emitList(Session &s, const std::vector<Record> &records, const std::vector<Column> &columns) {
    if (!s.options().json) {
        std::printf("%s", toTable(records, columns).c_str());
        return;
    }
    std::vector<Record> named;
    named.reserve(records.size());
    for (const Record &r : records)
        named.push_back(withMac(s, r));
    std::printf("%s", toJson(named).c_str());
}

std::string deviceLabel(const Found &f) {
    return formatMac(f.info.mac) + " (" + f.info.name + ", " + formatIpv4(f.info.ip) + ")";
}

void confirm(bool yes, const std::string &question) {
    // Scripts and pipes expect no questions, as from rm or ip.
    if (yes || !isatty(STDIN_FILENO))
        return;
    std::fprintf(stderr, "%s [y/N] ", terminalText(question).c_str());
    std::fflush(stderr);
    std::string answer;
    std::getline(std::cin, answer);
    for (char &c : answer)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (answer != "y" && answer != "yes")
        throw Error(kExitRefused, "not confirmed; nothing was done.");
}

void progress(const std::string &line) {
    if (isatty(STDERR_FILENO)) {
        std::fprintf(stderr, "\r%s\033[K", terminalText(line).c_str());
        g_progressShown = true;
    } else if (const std::string state = line.substr(0, line.find(" (")); state != g_lastProgress) {
        // Not a terminal: one line per change of state, not per second.
        std::fprintf(stderr, "%s\n", terminalText(line).c_str());
        g_lastProgress = state;
    }
    std::fflush(stderr);
}

void endProgress() {
    if (g_progressShown)
        std::fprintf(stderr, "\n");
    g_progressShown = false;
}

int runAction(Session &s,
              Args &a,
              std::string_view command,
              const Action &first,
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
    throw RefusedError(formatMac(mac) + " refused " + what + " (" +
                       std::string(wordFor(kAckResults, result)) + ", result " +
                       std::to_string(result) + ").");
}

}  // namespace tarn
