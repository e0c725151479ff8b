// Text in and out of the utility: addresses, JSON strings, terminal text and
// columns, result words, security names, the command line, secret files.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include <unistd.h>

#include "addr.h"
#include "args.h"
#include "cmdline.h"
#include "commands.h"
#include "credentials.h"
#include "output.h"
#include "refusal.h"
#include "results.h"
#include "security.h"

using namespace tarn;

TEST(TarnText, Addresses) {
    EXPECT_EQ(parseMac("aB-cD-eF-01-23-45"), (Mac{0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45}));
    for (const char *bad : {"00:11:22:33:44", "00:11:22:33:44:55:66", "00:11-22:33:44:55",
                            "00:11:22:33:44:5g", "001122334455", "192.0.2.1"})
        EXPECT_EQ(parseMac(bad), std::nullopt) << bad;
    EXPECT_FALSE(parseIpv4(std::string(100, '1')));
    EXPECT_FALSE(parseIpv6("192.0.2.1"));
}

TEST(TarnText, JsonStringsAreValidWhateverTheBytes) {
    const std::string fffd = "\xef\xbf\xbd";
    const std::pair<std::string, std::string> cases[] = {
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {std::string("\x01\x1f", 2), "\"\\u0001\\u001f\""},
        {"caf\xc3\xa9 \xe2\x82\xac", "\"caf\xc3\xa9 \xe2\x82\xac\""},
        {"bad\xff", "\"bad" + fffd + "\""},
        {"cut\xe2\x82", "\"cut" + fffd + fffd + "\""},
        {"over\xc0\xaf", "\"over" + fffd + fffd + "\""},
        {"surrogate\xed\xa0\x80", "\"surrogate" + fffd + fffd + fffd + "\""}};
    for (const auto &[in, out] : cases)
        EXPECT_EQ(toJson({text("s", in)}), "{\"s\":" + out + "}");
    EXPECT_EQ(validUtf8("cut\xe2\x82"), "cut" + fffd + fffd);
    EXPECT_EQ(toJson({decimal("t", std::nan(""), 1)}), "{\"t\":null}");
}

TEST(TarnText, SecurityTakesANameOrItsCode) {
    EXPECT_EQ(securityByName("4"), securityByName("wpa2-personal"));
    for (const char *bad : {"0", "7", "wpa"})
        EXPECT_EQ(securityByName(bad), nullptr) << bad;
}

TEST(TarnText, CommandLineRefusals) {
    // The first item nobody took is named, in command-line order.
    const auto finish = [](std::vector<std::string> tokens) {
        return refusal([&] { parseCommandLine(tokens).args.finish(); });
    };
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"discover", "stray", "--bogus"}, "unexpected argument \"stray\""},
        {{"--bogus=1", "discover", "stray"}, "unknown option \"--bogus=1\""},
        {{"discover", "--json=yes"}, "unknown option \"--json=yes\""},
        {{"discover", "--json=true"}, "unknown option \"--json=true\""},
        {{"--version={}"}, "unknown option \"--version={}\""},
        {{"vlan", "-5"}, "unknown option \"-5\""},
        {{"info", "--", "--json"}, "unexpected argument \"--json\""},
        // Refusals quote the token as typed, a group of short switches whole.
        {{"ddns", "--domain=x", "get"}, "unknown option \"--domain=x\""},
        {{"reboot", "-y5"}, "unknown option \"-y5\""},
        {{"-h=true", "reboot", "-y"}, "unknown option \"-h=true\""},
    };
    for (const auto &[tokens, refused] : cases)
        EXPECT_EQ(finish(tokens), refused + "; see --help.");
    EXPECT_FALSE(parseCommandLine({"reboot", "-yh=1"}).help);
    EXPECT_EQ(refusal([] { parseCommandLine({"wlan", "set", "--vap"}); }), "--vap needs a value.");
    EXPECT_EQ(refusal([] {
                  parseCommandLine({"wlan", "set", "--vap", "1", "--vap=2"}).args.value("--vap");
              }),
              "--vap is given more than once.");
    EXPECT_EQ(refusal([] {
                  parseCommandLine({"-t", "1", "info", "--timeout=2"});
              }),
              "--timeout is given more than once.");
    // Every command's usage lines declare its options without a clash.
    for (const Command &c : commandTable())
        EXPECT_NO_THROW(parseCommandLine({std::string(c.name)})) << c.name;
    EXPECT_EQ(parseInteger("4094", "--vlan", 1, 4094), 4094);
    EXPECT_THROW(parseInteger("4095", "--vlan", 1, 4094), UsageError);
}

TEST(TarnText, DeviceTextsReachTheTerminalEscaped) {
    const std::pair<std::string, std::string> cases[] = {
        {"two\nlines\tand\r", "two\\nlines\\tand\\r"},
        {"del\x7f", "del\\x7f"},
        {"csi\u009b31m", "csi\\u009b31m"},                           // C1 control as UTF-8
        {"raw\x9b\xff", "raw\\x9b\\xff"},                            // not UTF-8
        {"lrm\xe2\x80\x8e ls\xe2\x80\xa8", "lrm\\u200e ls\\u2028"},  // marks and separators
        {"a\\x1b", "a\\\\x1b"},                                      // a device's own backslash
        {"caf\xc3\xa9 \xe6\x97\xa5", "caf\xc3\xa9 \xe6\x97\xa5"}};
    for (const auto &[in, out] : cases)
        EXPECT_EQ(terminalText(in), out);
}

TEST(TarnText, TableColumnsAlignByDisplayWidth) {
    EXPECT_EQ(displayWidth("caf\xc3\xa9"), 4u);
    EXPECT_EQ(displayWidth("\xe6\x97\xa5\xe6\x9c\xac"), 4u);  // two wide characters
    EXPECT_EQ(displayWidth("e\xcc\x81"), 1u);                 // e and a combining accent
    const std::vector<Record> rows{
        {text("ssid", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e"), number("vap", 0)},
        {text("ssid", "caf\xc3\xa9"), number("vap", 1)},
        {text("ssid", "bad\xff"), number("vap", 2)},
        {text("ssid", "plain"), number("vap", 3)}};
    const std::string table = toTable(rows, {{"ssid", "SSID"}, {"vap", "VAP"}});
    std::vector<size_t> vapColumn;
    std::istringstream lines(table);
    for (std::string line; std::getline(lines, line);)
        vapColumn.push_back(displayWidth(line.substr(0, line.find_last_of(' ') + 1)));
    EXPECT_EQ(vapColumn, std::vector<size_t>(5, vapColumn[0])) << table;
}

TEST(TarnText, ResultCodesReadAsWords) {
    const Field restored = resultField(kRestoreQueryResults, 3);
    EXPECT_EQ(toJson({restored, decimal("rtt_ms", 1.25, 3), null("model")}),
              "{\"result\":\"complete\",\"result_code\":3,\"rtt_ms\":1.25,\"model\":null}");
    EXPECT_EQ(wordFor(kAckResults, 1006), "refused-character");
    EXPECT_EQ(wordFor(kAckResults, 7), "unknown");
    // Every table names each code once.
    for (std::span<const CodeWord> table :
         {std::span<const CodeWord>(kAckResults), std::span<const CodeWord>(kVerifyResults),
          std::span<const CodeWord>(kStartResults),
          std::span<const CodeWord>(kFirmwareQueryResults),
          std::span<const CodeWord>(kBackupQueryResults),
          std::span<const CodeWord>(kRestoreQueryResults)})
        for (size_t i = 0; i < table.size(); i++)
            for (size_t j = i + 1; j < table.size(); j++)
                EXPECT_NE(table[i].code, table[j].code) << table[i].word;
}

TEST(TarnText, GlobalOptionsLongShortAndAttached) {
    const auto parse = parseCommandLine;
    const CommandLine l = parse({"-d192.0.2.12", "--timeout", "0.5", "--retries=4", "-ieth0,eth1",
                                 "--interface", "eth2", "--user", "root", "info", "--json"});
    EXPECT_EQ((std::tuple{l.options.device, l.options.timeout, l.options.retries,
                          l.options.interfaces, l.options.user, l.options.json, *l.command}),
              (std::tuple{"192.0.2.12", 0.5, 4, std::vector<std::string>{"eth0", "eth1", "eth2"},
                          "root", true, "info"}));
    EXPECT_TRUE(l.args.empty());
    // Global options after the command; the command's own options before it.
    CommandLine w = parse({"--show-keys", "-d", "02:00:00:00:00:01", "wlan", "get", "-t3"});
    EXPECT_EQ((std::tuple{*w.command, w.options.device, w.options.timeout}),
              (std::tuple{"wlan", "02:00:00:00:00:01", 3.0}));
    EXPECT_EQ((std::tuple{w.args.flag("--show-keys"), *w.args.positional(), w.args.empty()}),
              (std::tuple{true, "get", true}));
    // listen and watch run for their own --timeout; before them it is -t.
    CommandLine listen = parse({"--timeout", "1", "listen", "--timeout", "60"});
    EXPECT_EQ(std::tuple(listen.options.timeout, listen.args.value("--timeout")),
              std::tuple(1.0, "60"));
    EXPECT_EQ(parse({"discover", "--timeout", "7"}).options.timeout, 7.0);
    // After ddns, --user is the dynamic-DNS account's; -u stays the administrator.
    CommandLine ddns = parse({"-d", "a", "ddns", "set", "--user", "someone", "-u", "root"});
    EXPECT_EQ(std::tuple(ddns.options.user, ddns.args.value("--user")),
              std::tuple("root", "someone"));
    // An empty value is a value, not an option without a short name.
    CommandLine empty = parse({"wlan", "set", "--ssid", ""});
    EXPECT_EQ(std::tuple(empty.options.json, empty.args.value("--ssid")), std::tuple(false, ""));
    CommandLine attached = parse({"wlan", "set", "--ssid=", "--vap", "1", "-y"});
    EXPECT_EQ((std::tuple{attached.args.value("--ssid"), attached.args.value("--vap")}),
              (std::tuple{"", "1"}));
    // Left to right: a command option's value is the command's, even where
    // it looks like an attached global option.
    CommandLine values = parse(
        {"wlan", "set", "--ssid", "-dX", "--key", "-t5", "-ieth0", "--security", "-u", "-r1"});
    EXPECT_EQ((std::tuple{values.options.device, values.options.timeout, values.options.user,
                          values.options.interfaces, values.options.retries}),
              (std::tuple{"", 2.0, "admin", std::vector<std::string>{"eth0"}, 1}));
    EXPECT_EQ((std::tuple{values.args.value("--ssid"), values.args.value("--key"),
                          values.args.value("--security")}),
              (std::tuple{"-dX", "-t5", "-u"}));
    // -y is --yes; short switches group as with getopt.
    CommandLine reboot = parse({"reboot", "-yh", "--wait"});
    EXPECT_TRUE(reboot.help && reboot.args.flag("--yes") && reboot.args.flag("--wait"));
    // Items carry the long name only; asking by the short one is a mistake.
    EXPECT_THROW(parse({"reboot", "-y"}).args.flag("-y"), std::logic_error);
    EXPECT_TRUE(parse({"--", "discover"}).command == "discover");
    EXPECT_TRUE(parse({"--version"}).version);
    EXPECT_FALSE(parse({"--json"}).command);
    EXPECT_THROW(parse({"-d", "a", "info", "--device", "b"}), UsageError);
    EXPECT_THROW(parse({"info", "-d"}), UsageError);
}

TEST(TarnText, SecretFilesSayWhyTheyCannotBeRead) {
    const std::pair<std::string, std::string> cases[] = {
        {"/nonexistent/pw",
         "cannot read the password file /nonexistent/pw: No such file or directory."},
        {"/", "cannot read the password file /: Is a directory."}};
    for (const auto &[path, message] : cases)
        EXPECT_EQ(refusal([&] { readSecretFile(path); }), message);
    char name[] = "/tmp/tarn-secret-XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "s3cret\r\nsecond\n", 15), 15);
    close(fd);
    EXPECT_EQ(readSecretFile(name), "s3cret");
    // Both the option and the file is a usage error.
    const SecretSource key{"Wi-Fi key", "--key", "--key-file", "TARN_TEST_UNSET_KEY"};
    EXPECT_THROW(readNewSecret(key, std::string("given"), std::string(name)), UsageError);
    unlink(name);
}

TEST(TarnText, SecondsAreCappedAndNeverOverflowTheClock) {
    EXPECT_EQ(parseSeconds("31622400", "-t"), kLongestSeconds);
    for (const char *tooLong : {"31622401", "9e9", "1e10", "1e300"})
        EXPECT_THROW(parseSeconds(tooLong, "--lost-after"), UsageError) << tooLong;
    EXPECT_THROW(parseSeconds("-1", "-t"), UsageError);
    // The conversion saturates for values that bypass the parser.
    EXPECT_EQ(secondsDuration(1e300), secondsDuration(kLongestSeconds));
    EXPECT_EQ(secondsDuration(-5), std::chrono::steady_clock::duration::zero());
    EXPECT_EQ(secondsDuration(1.5), std::chrono::milliseconds(1500));
    const auto now = std::chrono::steady_clock::now();
    EXPECT_GT(deadlineIn(1e300), now + std::chrono::hours(24 * 365));
}
