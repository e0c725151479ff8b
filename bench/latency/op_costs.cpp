// op_costs: what the slow parts of some requests cost on their own, measured
// inside the access point: reading the clock through the date command (the
// discovery reply's date field) and one crypt() of the password with the
// stored hash as its setting (every protected request). tarnd cannot answer
// those requests faster than these, so its figures are compared with them.
//
//   op_costs --hash HASH --password PASSWORD [--count N]
// Prints one JSON line: p50 and p99 of each, in microseconds.
#include <crypt.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr long kMaxCount = 100000;

struct PipeCloser {
    void operator()(FILE *pipe) const { pclose(pipe); }
};

// The date command as the daemon runs it: through the shell, one line read.
bool readDate() {
    std::unique_ptr<FILE, PipeCloser> pipe(popen("date +%Y%m%d%H%M%S", "r"));
    std::array<char, 1024> line{};
    return pipe && std::fgets(line.data(), static_cast<int>(line.size()), pipe.get()) != nullptr;
}

bool hashMatches(const char *password, const char *hash) {
    const char *hashed = crypt(password, hash);
    return hashed != nullptr && std::strcmp(hashed, hash) == 0;
}

template <typename F>
std::vector<int64_t> timeEach(long count, F f, bool &ok) {
    std::vector<int64_t> ns;
    ns.reserve(static_cast<size_t>(count));
    for (long i = 0; i < count; i++) {
        const auto start = Clock::now();
        ok = f() && ok;
        ns.push_back(
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count());
    }
    std::sort(ns.begin(), ns.end());
    return ns;
}

double percentile(const std::vector<int64_t> &sorted, size_t pct) {
    const size_t i = std::min(sorted.size() - 1, sorted.size() * pct / 100);
    return static_cast<double>(sorted[i]) / 1000.0;
}

}  // namespace

int main(int argc, char **argv) {
    const char *hash = nullptr;
    const char *password = nullptr;
    long count = 200;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string_view a = argv[i];
        if (a == "--hash")
            hash = argv[i + 1];
        else if (a == "--password")
            password = argv[i + 1];
        else if (a == "--count")
            count = std::strtol(argv[i + 1], nullptr, 10);
    }
    if (hash == nullptr || password == nullptr || count < 1 || count > kMaxCount || argc % 2 != 1) {
        std::fprintf(stderr, "usage: op_costs --hash HASH --password PASSWORD [--count N]\n");
        return 2;
    }
    bool dateOk = true, cryptOk = true;
    const auto date = timeEach(count, readDate, dateOk);
    const auto hashing = timeEach(
        count, [&] { return hashMatches(password, hash); }, cryptOk);
    std::printf(
        "{\"date_p50_us\": %.1f, \"date_p99_us\": %.1f, \"crypt_p50_us\": %.1f, "
        "\"crypt_p99_us\": %.1f, \"date_ok\": %s, \"crypt_ok\": %s}\n",
        percentile(date, 50), percentile(date, 99), percentile(hashing, 50),
        percentile(hashing, 99), dateOk ? "true" : "false", cryptOk ? "true" : "false");
    return dateOk && cryptOk ? 0 : 1;
}
