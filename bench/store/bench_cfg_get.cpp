// bench_cfg_get: the cost of one cfgGet read, on an unchanged store and
// right after another process wrote a setting. Prints figures only.
//
// Runs on a temporary database of its own (LSQLQUERY_DB is set before the
// library's first use); the writing process is a forked child driven
// through a pipe, so the read timed is the first one after a foreign write.
#include <cfg.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace {

constexpr int kUnchangedReads = 200000;
constexpr int kChangedReads = 2000;

using Clock = std::chrono::steady_clock;

long long nanosOfOneRead(std::span<char> buf) {
    auto start = Clock::now();
    cfgGet("management", "ip", buf);
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
}

void report(const char *what, std::vector<long long> &ns) {
    std::sort(ns.begin(), ns.end());
    std::printf("%-50s median %6lld ns  p99 %7lld ns  (%zu reads)\n", what, ns[ns.size() / 2],
                ns[ns.size() * 99 / 100], ns.size());
}

// The child writes one setting for every byte it receives and answers
// with one byte; it ends when the pipe closes.
void writerChild(int requests, int answers) {
    char c;
    for (int i = 0; read(requests, &c, 1) == 1; ++i) {
        std::string value = std::to_string(i);
        cfgSet("config", "status", value.c_str());
        if (write(answers, &c, 1) != 1)
            break;
    }
    _exit(0);
}

void benchUnchanged(std::span<char> buf) {
    std::vector<long long> ns;
    ns.reserve(kUnchangedReads);
    for (int i = 0; i < kUnchangedReads; ++i)
        ns.push_back(nanosOfOneRead(buf));
    report("cfgGet, unchanged store", ns);
}

bool benchAfterForeignWrite(std::span<char> buf) {
    int toChild[2], fromChild[2];
    if (pipe(toChild) || pipe(fromChild))
        return false;
    pid_t pid = fork();
    if (pid == 0) {
        close(toChild[1]);
        close(fromChild[0]);
        writerChild(toChild[0], fromChild[1]);
    }
    close(toChild[0]);
    close(fromChild[1]);
    std::vector<long long> ns;
    char c = 'w';
    for (int i = 0; i < kChangedReads; ++i) {
        if (write(toChild[1], &c, 1) != 1 || read(fromChild[0], &c, 1) != 1)
            break;
        ns.push_back(nanosOfOneRead(buf));
    }
    close(toChild[1]);
    close(fromChild[0]);
    waitpid(pid, nullptr, 0);
    if (ns.empty())
        return false;
    report("cfgGet, first read after another process's write", ns);
    return true;
}

}  // namespace

int main() {
    char folder[] = "/tmp/bench-store-XXXXXX";
    if (!mkdtemp(folder)) {
        std::perror("mkdtemp");
        return 1;
    }
    std::string db = std::string(folder) + "/settings.db";
    setenv("LSQLQUERY_DB", db.c_str(), 1);
    cfgSet("management", "ip", "192.0.2.11");
    std::array<char, 32> buf{};
    benchUnchanged(buf);
    bool ok = benchAfterForeignWrite(buf);
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return ok ? 0 : 1;
}
