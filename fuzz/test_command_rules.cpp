// The fuzzer's command oracle must accept every command line the daemon
// legitimately runs and refuse anything a request could have composed.
#include <cstdio>
#include <string>
#include <string_view>

#include "command_rules.h"

namespace {

struct Case {
    std::string command;
    bool documented;
};

std::string cutTo127(std::string text) {
    text.resize(127);
    return text;
}

const std::string kLongName(110, 'a');

const Case kCases[] = {
    {"submit COMMIT", true},
    {"submit SET_IPADDRESS", true},
    {"submit SHUTDOWN", true},
    {"killall -2 mDNSResponderPosix", true},
    {"submit SET_PASSWD 'admin' 'new\\$pass\\`1'", true},
    {"submit SET_PASSWD 'admin' ''", true},
    {"submit SET_PASSWD 'admin' 'a b;c|d&e'", true},
    {"/usr/bin/wget http://192.0.2.1/fw/image.bin", true},
    {"/usr/bin/wget http://2001:db8::1/image.bin", true},
    {"tftp -g 2001:db8::1 -l a-b_c+d~.cfg -r a-b_c+d~.cfg", true},
    {"tftp -p 192.0.2.1 -l backup.cfg -r backup.cfg", true},
    {"/splashbin/firmware-upgrade tftp://192.0.2.1/image.bin &", true},
    {"splashbin/firmware-upgrade tftp://2001:db8::1/image.bin &", true},
    {"/usr/sbin/config-dump backup.cfg >/dev/console 2>&1", true},
    {"/usr/sbin/config-file validate x.cfg >/dev/console 2>&1", true},
    {"/usr/sbin/flash-validate fw.bin >/dev/console 2>&1", true},
    {cutTo127("/usr/sbin/flash-upgrade " + kLongName + " >/dev/console 2>&1 &"), true},
    {cutTo127("/usr/sbin/flash-upgrade " + kLongName + " >/dev/console 2>&1 &").substr(0, 126), false},
    {"submit COMMIT; reboot", false},
    {"submit COMMIT\nreboot", false},
    {"submit SET_PASSWD 'admin' 'a'b'", false},
    {"submit SET_PASSWD 'admin' 'a$b'", false},
    {"submit SET_PASSWD 'admin' 'a\\'", false},
    {"submit SET_PASSWD 'root' 'x'", false},
    {"/usr/bin/wget http://192.0.2.1/a;rm", false},
    {"/usr/bin/wget http://192.0.2.1/a$(id)", false},
    {"/usr/bin/wget http://192.0.2.1/../etc/passwd", false},
    {"/usr/bin/wget http://192.0.2.1/a/../../b", false},
    {"/usr/bin/wget http://192.0.2.1/-O", false},
    {"/usr/bin/wget http://192.0.2.1//etc/passwd", false},
    {"/usr/bin/wget http://192.0.2.1/", false},
    {"/usr/bin/wget http://999.0.2.1/a", false},
    {"/usr/bin/wget http://192.0.2.1 x/a", false},
    {"tftp -g 192.0.2.1 -l ~root -r x", false},
    {"tftp -g 192.0.2.1 -l a b -r c", false},
    {"mkdir -p /tmp/x", false},
    {"rm -rf /etc/reserved_IP", false},
    {"", false},
};

}  // namespace

int main() {
    int failures = 0;
    for (const Case &c : kCases) {
        std::string why;
        if (isDocumentedCommand(c.command, why) != c.documented) {
            std::printf("FAIL: \"%s\" should be %s\n", c.command.c_str(),
                        c.documented ? "accepted" : "refused");
            failures++;
        }
    }
    std::printf("%d of %zu cases failed\n", failures, std::size(kCases));
    return failures == 0 ? 0 : 1;
}
