// Three threads share one inventory under a mutex: the receiver follows the
// announcements, the discoverer broadcasts a discovery at start and then at
// each interval (for the model and the round-trip time, which announcements
// do not carry), and the HTTP server renders the metrics on each scrape.
// A fourth waits for SIGINT or SIGTERM and stops the server.
#include "exporter.h"

#include <httplib.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "announcements.h"
#include "codec.h"
#include "commands.h"
#include "errors.h"
#include "metrics.h"

namespace tarn {

namespace {

constexpr double kDefaultDiscoveryInterval = 60;
// The receiver wakes this often to see whether the exporter is stopping.
constexpr auto kStopCheck = std::chrono::seconds(1);
// How often, and how many times, a stop signal asks the HTTP server to
// stop: stopping is ignored until the server runs (five seconds).
constexpr auto kServerStopRetry = std::chrono::milliseconds(10);
constexpr int kServerStopTries = 500;

struct Shared {
    std::mutex mutex;
    Inventory inventory;
    ExporterStats stats;
    std::condition_variable wake;
    std::atomic<bool> stopping{false};

    explicit Shared(const Tracking &tracking) : inventory(tracking) {}
};

void receive(Shared &sh, Transport &t) {
    while (!sh.stopping) {
        try {
            std::optional<Datagram> d = t.receive(Clock::now() + kStopCheck);
            if (!d)
                continue;
            std::optional<Announcement> a = decodeAnnouncement(d->bytes);
            const Sighting s = a ? Sighting::from(*a, d->ifname) : Sighting{};
            std::lock_guard lock(sh.mutex);
            if (!a) {
                sh.stats.ignoredDatagrams++;
                continue;
            }
            sh.stats.announcements++;
            sh.inventory.heard(s, {d->at, WallClock::now()});
        } catch (const Error &e) {
            std::fprintf(stderr, "tarn exporter: %s\n", e.what());
            std::unique_lock lock(sh.mutex);
            sh.stats.receiveErrors++;
            sh.wake.wait_for(lock, kStopCheck, [&] { return sh.stopping.load(); });
        }
    }
}

void discoverEvery(Shared &sh, Session &s, double interval) {
    const Clock::duration period = secondsDuration(interval);
    for (auto next = Clock::now(); !sh.stopping;) {
        const Moment sent = Moment::now();
        std::vector<Found> found;
        bool failed = false;
        try {
            found = s.discover();
        } catch (const Error &e) {
            std::fprintf(stderr, "tarn exporter: discovery failed: %s\n", e.what());
            failed = true;
        }
        std::unique_lock lock(sh.mutex);
        sh.stats.discoveries++;
        sh.stats.discoveryFailures += failed;
        sh.stats.lastDiscovery = WallClock::now();
        // Each reply counts from when it arrived, not from the end of the
        // window that collected it.
        for (const Found &f : found) {
            const Clock::duration rtt = secondsDuration(f.rttMs / 1000);
            sh.inventory.heard(Sighting::from(f),
                               {sent.steady + rtt,
                                sent.wall + std::chrono::duration_cast<WallClock::duration>(rtt)});
        }
        if (interval <= 0)
            return;
        // After a discovery that ran late (a busy host, a slow lock) the
        // next ones keep their period instead of running back to back.
        next = std::max(next + period, Clock::now());
        sh.wake.wait_until(lock, next, [&] { return sh.stopping.load(); });
    }
}

std::string metricsPage(Shared &sh, const ProcessStats &process) {
    std::lock_guard lock(sh.mutex);
    sh.inventory.expire(Moment::now());
    return renderMetrics(sh.inventory, sh.stats, process);
}

constexpr const char *kIndexPage =
    "<html><head><title>tarn exporter</title></head><body><h1>tarn exporter</h1>"
    "<p><a href=\"/metrics\">Metrics</a></p></body></html>\n";

}  // namespace

void configureServer(httplib::Server &server) {
    // A worker serves one connection at a time, and an idle keep-alive
    // connection holds one until it times out: a few workers and a short
    // keep-alive keep idle clients from starving a scrape.
    server.new_task_queue = [] { return new httplib::ThreadPool(4); };
    server.set_keep_alive_timeout(2);
    server.set_read_timeout(5, 0);
    server.set_write_timeout(5, 0);
}

void stopServer(httplib::Server &server, const std::atomic<bool> &listenReturned) {
    for (int i = 0; i < kServerStopTries && !listenReturned; i++) {
        server.stop();
        std::this_thread::sleep_for(kServerStopRetry);
    }
}

ListenAddress parseListenAddress(const std::string &text) {
    const size_t colon = text.rfind(':');
    const auto bad = [&] {
        return UsageError(
            "--listen takes ADDRESS:PORT (192.0.2.1:9472, [2001:db8::1]:9472 or "
            ":9472), not \"" +
            text + "\".");
    };
    if (colon == std::string::npos)
        throw bad();
    ListenAddress l;
    l.host = text.substr(0, colon);
    l.port =
        static_cast<uint16_t>(parseInteger(text.substr(colon + 1), "the --listen port", 1, 65535));
    if (l.host.size() >= 2 && l.host.front() == '[' && l.host.back() == ']') {
        l.host = l.host.substr(1, l.host.size() - 2);
        if (!parseIpv6(l.host))
            throw bad();
    } else if (l.host.empty()) {
        l.host = "0.0.0.0";
    } else if (!parseIpv4(l.host)) {
        throw bad();
    }
    return l;
}

int cmdExporter(Session &s, Args &a) {
    const std::optional<std::string> listenText = a.value("--listen");
    const std::optional<std::string> intervalText = a.value("--discovery-interval");
    const double interval = intervalText ? parseSeconds(*intervalText, "--discovery-interval")
                                         : kDefaultDiscoveryInterval;
    // With discoveries more often than announcements, a device that is up
    // answers at least every interval (or every discovery's wait, -t).
    const double gap =
        interval > 0 ? std::min(kAnnouncementInterval, std::max(interval, s.options().timeout))
                     : kAnnouncementInterval;
    const Tracking tracking = trackingOptions(a, gap);
    a.finish();
    if (!listenText)
        throw UsageError("exporter needs --listen ADDRESS:PORT.");
    const ListenAddress listen = parseListenAddress(*listenText);

    Shared sh(tracking);
    sh.stats.lostAfterSeconds = tracking.lostAfter;
    sh.stats.discoveryIntervalSeconds = interval;
    Transport announcements(s.interfaces(), wire::kRequestPort);

    httplib::Server server;
    configureServer(server);
    server.Get("/metrics", [&](const httplib::Request &, httplib::Response &res) {
        res.set_content(metricsPage(sh, readProcessStats()),
                        "text/plain; version=0.0.4; charset=utf-8");
    });
    server.Get("/", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(kIndexPage, "text/html");
    });
    if (!server.bind_to_port(listen.host, listen.port))
        throw UsageError("cannot listen on " + *listenText +
                         ": the port is taken or the address is not this host's.");

    // Only the signal thread takes SIGINT and SIGTERM; the others, started
    // after this, inherit the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::atomic<bool> listenReturned{false};
    std::thread signals([&] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        sh.stopping = true;
        stopServer(server, listenReturned);
    });
    std::thread receiver([&] { receive(sh, announcements); });
    std::thread discoverer([&] { discoverEvery(sh, s, interval); });

    std::fprintf(stderr,
                 "tarn exporter: serving http://%s/metrics, following announcements on %s\n",
                 listenText->c_str(), announcements.interfaceList().c_str());
    const bool served = server.listen_after_bind();
    listenReturned = true;
    if (!sh.stopping.exchange(true))
        kill(getpid(), SIGTERM);  // the server failed: end the signal thread's wait
    {
        // Taken so that no thread is between testing `stopping` and waiting.
        std::lock_guard lock(sh.mutex);
    }
    sh.wake.notify_all();
    signals.join();
    receiver.join();
    discoverer.join();
    if (!served)
        throw NoReplyError("the HTTP server on " + *listenText + " stopped unexpectedly.");
    return kExitOk;
}

}  // namespace tarn
