// Sanitized builds only (TARN_SANITIZE): what the daemon needs to run and
// report under ASan in the device sandbox. The shipped daemon has neither.
#include <csignal>
#include <cstdlib>

// The sandbox's management daemon starts tarnd through stdbuf, whose
// preloaded library comes before the ASan runtime: ASan must not refuse
// that order.
extern "C" const char *__asan_default_options() {
    return "verify_asan_link_order=0";
}

namespace {

// SIGTERM ends the daemon through exit(), so that LeakSanitizer checks the
// heap and reports into the daemon's stderr log when the sandbox stops it.
// exit() is not async-signal-safe; a test build accepts the small risk of a
// stop that hangs until the sandbox's SIGKILL.
void exitOnTerm(int) {
    std::exit(128 + SIGTERM);
}

const bool g_exitOnTerm = [] {
    std::signal(SIGTERM, exitOnTerm);
    return true;
}();

}  // namespace
