// The fuzzer's command oracle must accept every command line the daemon
// legitimately runs and refuse anything a request could have composed.
#include <cstdio>
#include <iterator>
#include <string>
#include <utility>

#include "command_rules.h"

int main() {
    // A flash line with the longest name the daemon takes, and cut short.
    const std::string whole =
        "/usr/sbin/flash-upgrade " + std::string(82, 'a') + " >/dev/console 2>&1 &";
    const std::pair<std::string, bool> cases[] = {
        {"submit COMMIT", true},
        {"killall -2 mDNSResponderPosix", true},
        {"submit SET_PASSWD 'admin' 'new\\$pass\\`1'", true},
        {"submit SET_PASSWD 'admin' ''", true},
        {"submit SET_PASSWD 'admin' 'a b;c|d&e'", true},
        {"/usr/bin/wget -T 60 http://2001:db8::1/image.bin", true},
        {"/usr/bin/wget http://2001:db8::1/image.bin", false},  // no read time-out
        {"tftp -g 2001:db8::1 -l a-b_c+d~.cfg -r a-b_c+d~.cfg", true},
        {"splashbin/firmware-upgrade tftp://2001:db8::1/image.bin &", true},
        {"/usr/sbin/config-file validate x.cfg >/dev/console 2>&1", true},
        {whole, true},
        {"/usr/sbin/flash-upgrade " + std::string(103, 'a'), false},
        {whole.substr(0, whole.size() - 2), false},  // without its closing &
        {"submit COMMIT; reboot", false},
        {"submit COMMIT\nreboot", false},
        {"submit SET_PASSWD 'admin' 'a'b'", false},
        {"submit SET_PASSWD 'admin' 'a$b'", false},
        {"submit SET_PASSWD 'admin' 'a\\'", false},
        {"submit SET_PASSWD 'root' 'x'", false},
        {"/usr/bin/wget -T 60 http://192.0.2.1/a$(id)", false},
        {"/usr/bin/wget -T 60 http://192.0.2.1/a/../../b", false},
        {"/usr/bin/wget -T 60 http://192.0.2.1/-O", false},
        {"/usr/bin/wget -T 60 http://192.0.2.1//etc/passwd", false},
        {"/usr/bin/wget -T 60 http://192.0.2.1/", false},
        {"/usr/bin/wget -T 60 http://999.0.2.1/a", false},
        {"/usr/bin/wget -T 60 http://192.0.2.1 x/a", false},
        {"tftp -g 192.0.2.1 -l ~root -r x", false},
        {"mkdir -p /tmp/x", false},
        {"", false},
    };
    int failures = 0;
    for (const auto &[command, documented] : cases) {
        if (isDocumentedCommand(command) != documented) {
            std::printf("FAIL: \"%s\" should be %s\n", command.c_str(),
                        documented ? "accepted" : "refused");
            failures++;
        }
    }
    std::printf("%d of %zu cases failed\n", failures, std::size(cases));
    return failures == 0 ? 0 : 1;
}
