// listen and watch: following the announcements that devices broadcast.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "announcements.h"
#include "commands.h"
#include "errors.h"
#include "inventory.h"
#include "records.h"

namespace tarn {

namespace {

// Without --timeout, until interrupted.
Clock::time_point deadlineAfter(double seconds) {
    return seconds > 0 ? deadlineIn(seconds) : Clock::time_point::max();
}

double timeoutOption(Args &a) {
    const std::optional<std::string> v = a.value("--timeout");
    return v ? parseSeconds(*v, "--timeout") : 0;
}

// One line per event, human or JSON: "event" and "time" first, then the
// device; a human line shows the identifying fields only.
void printEvent(const Session &s, const Record &record) {
    if (s.options().json) {
        std::printf("%s\n", toJson(record).c_str());
    } else {
        std::string line;
        for (const char *key : {"time", "event", "mac", "ipv4", "name", "firmware", "field",
                                "previous", "interface"}) {
            for (const Field &f : record)
                if (f.key == key && f.kind != Field::Kind::Null)
                    line += (line.empty() ? "" : " ") + terminalText(f.value);
        }
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
}

Record eventRecord(const Event &e) {
    const Sighting &d = e.device.last;
    Record r{
        text("event", std::string(eventName(e.kind))),
        text("time", rfc3339(e.at)),
        text("mac", formatMac(d.mac)),
        text("ipv4", formatIpv4(d.ipv4)),
        ipv6Field("ipv6", d.ipv6, d.ipv6Prefix),
        text("name", d.name),
        text("firmware", d.firmware),
        e.device.model.empty() ? null("model") : text("model", e.device.model),
        text("interface", d.ifname),
    };
    switch (e.kind) {
    case Event::Kind::Changed:
        r.push_back(text("field", e.field));
        r.push_back(text("previous", e.previous));
        break;
    case Event::Kind::Lost:
        r.push_back(text("last_seen", rfc3339(e.device.heard.wall)));
        break;
    case Event::Kind::Appeared:
    case Event::Kind::Back:
        break;
    }
    return r;
}

std::string fieldValue(const Record &record, std::string_view key) {
    for (const Field &f : record)
        if (f.key == key)
            return f.value;
    return "";
}

// Runs the --exec command for one event through /bin/sh, with the event in
// its environment only: device texts never become part of a command line.
// Commands run one at a time, in the order of the events, and watch waits
// for each. Their standard output goes to watch's standard error, so that
// watch's own output stays one event per line.
void runForEvent(const std::string &command, const Record &record) {
    std::vector<std::string> env;
    for (char **e = environ; *e != nullptr; e++) {
        if (std::strncmp(*e, "TARN_", 5) != 0)
            env.emplace_back(*e);
    }
    for (const Field &f : record) {
        std::string name = "TARN_";
        for (char c : f.key)
            name += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        env.push_back(name + "=" + (f.kind == Field::Kind::Null ? "" : f.value));
    }
    env.push_back("TARN_JSON=" + toJson(record));
    std::vector<char *> envp;
    envp.reserve(env.size() + 1);
    for (std::string &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string sh = "sh", dashC = "-c", cmd = command;
    char *argv[] = {sh.data(), dashC.data(), cmd.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    pid_t pid = 0;
    const int err = posix_spawn(&pid, "/bin/sh", &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (err != 0) {
        std::fprintf(stderr, "tarn: cannot run --exec command: %s.\n", std::strerror(err));
        return;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "tarn: --exec command failed (%s %d) for event %s of %s.\n",
                     WIFEXITED(status) ? "status" : "signal",
                     WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status),
                     fieldValue(record, "event").c_str(), fieldValue(record, "mac").c_str());
}

}  // namespace

int cmdListen(Session &s, Args &a) {
    const std::optional<std::string> countText = a.value("--count");
    const long count = countText ? parseInteger(*countText, "--count", 1, 1000000) : 0;
    const double timeout = timeoutOption(a);
    const Clock::time_point deadline = deadlineAfter(timeout);
    a.finish();
    Transport t(s.interfaces(), wire::kRequestPort);
    long heard = 0;
    while (count == 0 || heard < count) {
        std::optional<Heard> h = nextAnnouncement(t, deadline);
        if (!h)
            break;
        Record r = announcementRecord(h->announcement, h->ifname);
        r.insert(r.begin(), {text("event", "announce"), text("time", rfc3339(WallClock::now()))});
        printEvent(s, r);
        heard++;
    }
    if (heard == 0)
        throw NoReplyError("no announcement arrived on " + t.interfaceList() + " within " +
                           Session::secondsText(timeout) + ".");
    return kExitOk;
}

int cmdWatch(Session &s, Args &a) {
    const Clock::time_point deadline = deadlineAfter(timeoutOption(a));
    const Tracking tracking = trackingOptions(a, kAnnouncementInterval);
    const std::optional<std::string> command = a.value("--exec");
    a.finish();
    if (command && command->empty())
        throw UsageError("--exec needs a command.");

    Inventory inventory(tracking);
    auto report = [&](const std::vector<Event> &events) {
        for (const Event &e : events) {
            const Record r = eventRecord(e);
            printEvent(s, r);
            if (command)
                runForEvent(*command, r);
        }
    };
    // Bind the announcement port first so nothing is missed while the
    // discovery that fills the list runs.
    Transport t(s.interfaces(), wire::kRequestPort);
    for (const Found &f : s.discover())
        report(inventory.heard(Sighting::from(f), Moment::now()));
    while (Clock::now() < deadline) {
        const Clock::time_point wake =
            std::min(deadline, inventory.nextExpiry().value_or(deadline));
        if (std::optional<Heard> h = nextAnnouncement(t, wake))
            report(inventory.heard(Sighting::from(h->announcement, h->ifname),
                                   {h->at, WallClock::now()}));
        report(inventory.expire(Moment::now()));
    }
    return kExitOk;
}

}  // namespace tarn
