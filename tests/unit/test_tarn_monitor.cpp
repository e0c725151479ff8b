// The inventory's bounds, label texts and the plugin's status; a device's
// events and the scraped exposition are checked in test_monitoring.py.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <thread>

#include "check.h"
#include "cmdline.h"
#include "errors.h"
#include "exporter.h"
#include "inventory.h"
#include "metrics.h"

using namespace tarn;
using namespace std::chrono_literals;

namespace {

const Moment kStart{Clock::time_point{} + 1000s, WallClock::time_point{} + 1796558400s};

Moment at(std::chrono::milliseconds after) {
    return {kStart.steady + after, kStart.wall + after};
}

Sighting device(uint8_t last, const std::string &name = "lobby") {
    Sighting s;
    s.mac = {0x02, 0, 0, 0, 0, last};
    s.name = name;
    s.firmware = "1.0.0";
    s.ipv4 = {192, 0, 2, static_cast<uint8_t>(10 + last)};
    s.ifname = "eth1";
    return s;
}

struct Seen {
    std::string kind, field, previous;
    bool operator==(const Seen &) const = default;
};

std::vector<Seen> kinds(const std::vector<Event> &events) {
    std::vector<Seen> out;
    for (const Event &e : events)
        out.push_back({std::string(eventName(e.kind)), e.field, e.previous});
    return out;
}

}  // namespace

TEST(TarnInventory, DiscoveryAddsModelAndRoundTripThatAnnouncementsKeep) {
    Inventory inv(Tracking{.lostAfter = 95});
    Sighting discovered = device(2);
    discovered.model = "TAP-2400";
    discovered.rttSeconds = 0.004;
    inv.heard(discovered, at(10s));
    // A reply collected during a discovery is handled after a later
    // announcement: it must not move the last-heard time back.
    inv.heard(device(2), at(12s));
    inv.heard(discovered, at(11s));
    const TrackedDevice &d = inv.devices().at(discovered.mac);
    EXPECT_EQ(std::tie(d.model, d.rttSeconds, d.heard.steady),
              std::tuple("TAP-2400", 0.004, at(12s).steady));
    EXPECT_TRUE(inv.expire(at(106s)).empty());
    EXPECT_EQ(inv.expire(at(107s)).size(), 1u);
}

TEST(TarnInventory, DevicesAreCappedAndForgottenWhenLongDown) {
    Inventory inv(Tracking{.lostAfter = 95, .forgetAfter = 3600, .maxDevices = 2});
    inv.heard(device(1), at(0s));
    inv.heard(device(2), at(0s));
    EXPECT_TRUE(inv.heard(device(3), at(1s)).empty()) << "a third device is dropped";
    EXPECT_EQ(inv.dropped(), 1u);
    EXPECT_FALSE(inv.devices().contains(device(3).mac));
    EXPECT_TRUE(inv.heard(device(2, "renamed"), at(2s)).size() == 1) << "known devices still count";
    inv.heard(device(1), at(3550s));  // the first stays up, the second falls silent

    EXPECT_EQ(inv.expire(at(3601s)).size(), 1u) << "the second is lost";
    EXPECT_EQ(inv.devices().size(), 2u) << "not yet silent for the forget threshold";
    EXPECT_TRUE(inv.expire(at(3602s)).empty());
    EXPECT_EQ(inv.devices().size(), 1u) << "down for the forget threshold: forgotten";
    EXPECT_FALSE(inv.devices().contains(device(2).mac));
    EXPECT_EQ(kinds(inv.heard(device(3), at(3603s))), (std::vector<Seen>{{"appeared", "", ""}}));
    EXPECT_EQ(kinds(inv.heard(device(2), at(3604s))), std::vector<Seen>{})
        << "full again: the forgotten device is dropped like any new one";

    // A full inventory forgets long-silent devices before dropping a new one.
    EXPECT_EQ(inv.expire(at(3700s)).size(), 2u);
    EXPECT_TRUE(inv.heard(device(4), at(3550s + 3599s)).empty());
    EXPECT_EQ(kinds(inv.heard(device(4), at(3550s + 3600s))),
              (std::vector<Seen>{{"appeared", "", ""}}));
    EXPECT_EQ(inv.dropped(), 3u);
    EXPECT_FALSE(inv.devices().contains(device(1).mac));
}

TEST(TarnInventory, TrackingOptions) {
    const auto parse = [](std::vector<std::string> argv, double gap) {
        argv.insert(argv.begin(), "watch");
        Args a = parseCommandLine(argv).args;
        return trackingOptions(a, gap);
    };
    EXPECT_THROW(parse({"--lost-after", "-1"}, 1), UsageError);
    EXPECT_EQ(parse({"--lost-after", "172800"}, 30).forgetAfter, 172800)
        << "never forgotten before being lost";
    EXPECT_THROW(parse({"--lost-after", "100", "--forget-after", "99"}, 30), UsageError);
    EXPECT_EQ(parse({"--max-devices", "10"}, 30).maxDevices, 10u);
    EXPECT_THROW(parse({"--max-devices", "0"}, 30), UsageError);
    EXPECT_EQ(rfc3339(WallClock::time_point{} + 1796558523250ms), "2026-12-06T12:02:03.250Z");
}

TEST(TarnMetrics, LabelValuesAreEscapedAndValidUtf8) {
    EXPECT_EQ(labelValue("a\"b\\c\nd"), "a\\\"b\\\\c\\nd");
    EXPECT_EQ(labelValue("caf\xc3\xa9"), "caf\xc3\xa9");
    EXPECT_EQ(labelValue("bad\xff\xc3"), "bad\xef\xbf\xbd\xef\xbf\xbd");
}

TEST(TarnExporter, ListenAddresses) {
    EXPECT_EQ(parseListenAddress("192.0.2.1:9472").host, "192.0.2.1");
    EXPECT_EQ(parseListenAddress("[2001:db8::1]:80").host, "2001:db8::1");
    EXPECT_EQ(parseListenAddress(":9472").host, "0.0.0.0");
    EXPECT_EQ(parseListenAddress(":9472").port, 9472);
    for (const char *bad : {"9472", "192.0.2.1:", "192.0.2.1:0", "192.0.2.1:65536", "host:80",
                            "2001:db8::1:80", "[192.0.2.1]:80"})
        EXPECT_THROW(parseListenAddress(bad), UsageError) << bad;
}

// The exporter's HTTP server on a Unix socket in a private folder: no
// network interface involved.
TEST(TarnExporter, IdleConnectionsDoNotStarveAScrape) {
    char dir[] = "/tmp/tarn-http-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/http";
    httplib::Server server;
    configureServer(server);
    server.set_address_family(AF_UNIX);
    server.Get("/metrics", [](const httplib::Request &, httplib::Response &res) {
        res.set_content("up 1\n", "text/plain");
    });
    ASSERT_TRUE(server.bind_to_port(path, 80));
    std::thread listening([&] { server.listen_after_bind(); });
    // Connections that send nothing, as idle keep-alive clients.
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    std::vector<int> idle;
    for (int i = 0; i < 3; i++) {
        idle.push_back(socket(AF_UNIX, SOCK_STREAM, 0));
        EXPECT_EQ(connect(idle.back(), reinterpret_cast<const sockaddr *>(&addr), sizeof addr), 0);
    }
    httplib::Client client(path, 80);
    client.set_address_family(AF_UNIX);
    // Idle connections hold a worker each for the keep-alive time (2 s);
    // with a worker left free, the scrape need not wait for them.
    client.set_connection_timeout(3, 0);
    client.set_read_timeout(3, 0);
    const httplib::Result res = client.Get("/metrics");
    EXPECT_TRUE(res && res->status == 200 && res->body == "up 1\n");
    server.stop();
    listening.join();
    for (int fd : idle)
        close(fd);
    unlink(path.c_str());
    rmdir(dir);
}

TEST(TarnCheck, StatusesAndPerformanceData) {
    CheckInput in;
    in.found = Found{};
    in.found->info.mac = {2, 0, 0, 0, 0, 1};
    in.found->info.ip = {192, 0, 2, 11};
    in.found->info.name = "hall|west\nwing";
    in.found->info.firmware = "1.0.0";
    in.found->rttMs = 1.25;
    const auto check = [&] {
        const CheckResult r = evaluateCheck(in);
        return std::tuple(r.status, r.line);
    };
    EXPECT_EQ(check(),
              std::tuple(kPluginOk,
                         "TARN OK - hall/west wing (02:00:00:00:00:01, 192.0.2.11) answered "
                         "in 1.2 ms, firmware 1.0.0 | rtt=0.001250s;;;0 age=0s;;90;0"));
    in.found.reset();
    in.silence = "no device 02:00:00:00:00:01 answered on eth1 within 2 s (3 tries).";
    EXPECT_EQ(check(), std::tuple(kPluginCritical, "TARN CRITICAL - " + in.silence +
                                                       " It has not answered a check before."));
    // Silent for longer than the answer's age allows: critical.
    in.lastAnswerAge = 90;
    EXPECT_EQ(std::get<0>(check()), kPluginWarning);
    in.lastAnswerAge = 91;
    EXPECT_EQ(std::get<0>(check()), kPluginCritical);
}

TEST(TarnMetrics, ProcessFiguresOfThisProcess) {
    volatile double spin = 0;
    for (int i = 0; i < 20'000'000; i++)
        spin = spin + 1;
    const ProcessStats p = readProcessStats();
    const double now = unixSeconds(WallClock::now());
    EXPECT_TRUE(p.cpuSeconds > 0 && p.cpuSeconds < 600) << p.cpuSeconds;
    EXPECT_GT(p.residentBytes, 1u << 20);
    EXPECT_GE(p.openFds, 3u);
    EXPECT_TRUE(p.startTime <= now + 1 && p.startTime > now - 600)
        << p.startTime << " is not within the last ten minutes of " << now;
}
