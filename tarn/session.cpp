#include "session.h"

#include <algorithm>
#include <cstdio>

#include "args.h"
#include "credentials.h"
#include "errors.h"
#include "ops.h"

namespace tarn {

namespace {

double millisSince(Clock::time_point start, Clock::time_point end) {
    return std::chrono::duration<double, std::milli>(end - start).count();
}

Clock::duration seconds(double s) {
    return secondsDuration(s);
}

bool isReplyTo(const wire::message_t &h, uint16_t op, uint16_t tag) {
    return h.uMsgType == wire::kTypeReply && h.uMsgTag == tag && h.uOP_Code == op;
}

// The tail of a no-reply message: " (1 try)." or " (3 tries)."
std::string triesText(int tries) {
    return " (" + std::to_string(tries) + (tries == 1 ? " try)." : " tries).");
}

bool matches(const Selector &sel, const DeviceInfo &info) {
    return (sel.mac && *sel.mac == info.mac) || (sel.ip && *sel.ip == info.ip);
}

}  // namespace

Selector parseSelector(const std::string &text) {
    Selector sel;
    sel.mac = parseMac(text);
    if (!sel.mac)
        sel.ip = parseIpv4(text);
    if (!sel.mac && !sel.ip)
        throw UsageError("-d takes a MAC address (00:11:22:33:44:55) or an IPv4 address, not \"" +
                         text + "\".");
    return sel;
}

Session::Session(Options options) : options_(std::move(options)) {
    if (options_.timeout <= 0)
        throw UsageError("-t takes a positive number of seconds.");
    if (options_.retries < 0)
        throw UsageError("-r takes a number of retries, 0 or more.");
}

Session::Session(Options options, Found target, Credentials credentials)
    : Session(std::move(options)) {
    options_.device = formatMac(target.info.mac);
    target_ = std::move(target);
    credentials_ = std::move(credentials);
}

std::vector<std::string> Session::interfaces() const {
    if (target_)
        return {target_->ifname};
    return options_.interfaces.empty() ? broadcastInterfaces() : options_.interfaces;
}

std::string Session::secondsText(double seconds, int decimals) {
    char buf[32];
    if (decimals < 0)
        std::snprintf(buf, sizeof buf, "%g s", seconds);
    else
        std::snprintf(buf, sizeof buf, "%.*f s", decimals, seconds);
    return buf;
}

Transport &Session::replies() {
    if (!transport_)
        transport_ = std::make_unique<Transport>(interfaces(), wire::kReplyPort);
    return *transport_;
}

uint16_t Session::newTag() {
    // Zero is what announcements carry; never use it for a request.
    std::uniform_int_distribution<unsigned> dist(1, 0xFFFF);
    return static_cast<uint16_t>(dist(random_));
}

const Credentials &Session::credentials() {
    if (!credentials_)
        credentials_ = loadCredentials(options_.user, options_.passwordFile);
    return *credentials_;
}

Reply Session::toReply(const wire::message_t &h, const Datagram &d, Clock::time_point sent) {
    const auto bodyAt = static_cast<ptrdiff_t>(std::min(d.bytes.size(), wire::kHeaderLen));
    return Reply{h, Bytes(d.bytes.begin() + bodyAt, d.bytes.end()), d.ifname, d.from,
                 millisSince(sent, d.at)};
}

DeviceReplies Session::collect(uint16_t op, const std::function<void(const Reply &)> &onReply) {
    Transport &t = replies();
    const uint16_t tag = newTag();
    const Bytes request = encodeRequest(op, tag, std::nullopt, {}, {});
    const auto sent = Clock::now();
    t.broadcast(request, wire::kRequestPort);
    const auto deadline = sent + seconds(options_.timeout);
    DeviceReplies out;
    while (auto d = t.receive(deadline)) {
        const wire::message_t h = wire::decode_header(d->bytes);
        if (!isReplyTo(h, op, tag) || h.uStatus != wire::kStatusOk)
            continue;
        Reply r = toReply(h, *d, sent);
        if (onReply)
            onReply(r);
        out.add(std::move(r));
    }
    return out;
}

std::vector<Found> Session::discover(size_t *dropped,
                                     const std::function<void(const Found &)> &onFound) {
    const DeviceReplies replies = collect(wire::OP_DISCOVER, [&](const Reply &r) {
        if (onFound)
            onFound(Found{parseDiscover(r.body), r.ifname, r.rttMs});
    });
    if (dropped)
        *dropped = replies.dropped();
    std::vector<Found> out;
    for (const auto &[mac, hosts] : replies.devices())
        for (const Reply &r : hosts)
            out.push_back(Found{parseDiscover(r.body), r.ifname, r.rttMs});
    return out;
}

DeviceReplies Session::findTarget(const Selector &sel) {
    Transport &t = replies();
    // A new tag for every try, so that a late answer to an earlier try is
    // never taken for a second host.
    const uint16_t tag = newTag();
    const Bytes request = encodeRequest(wire::OP_DISCOVER, tag, std::nullopt, {}, {});
    const auto sent = Clock::now();
    t.broadcast(request, wire::kRequestPort);
    auto deadline = sent + seconds(options_.timeout);
    DeviceReplies found;
    while (auto d = t.receive(deadline)) {
        const wire::message_t h = wire::decode_header(d->bytes);
        if (!isReplyTo(h, wire::OP_DISCOVER, tag) || h.uStatus != wire::kStatusOk)
            continue;
        Reply r = toReply(h, *d, sent);
        if (!matches(sel, parseDiscover(r.body)))
            continue;
        if (found.devices().empty())
            deadline = d->at + seconds(options_.grace);
        found.add(std::move(r));
    }
    return found;
}

const Found &Session::target() {
    if (target_)
        return *target_;
    if (options_.device.empty())
        throw UsageError("this command needs a device: name it with -d MAC or -d IPv4.");
    const Selector sel = parseSelector(options_.device);
    const auto start = Clock::now();
    const int tries = options_.retries + 1;
    for (int attempt = 0; attempt < tries; attempt++) {
        const DeviceReplies found = findTarget(sel);
        const auto &devices = found.devices();
        if (devices.empty())
            continue;
        if (devices.size() > 1)
            throw UsageError(options_.device + " is used by " + std::to_string(devices.size()) +
                             " devices; give the MAC.");
        const auto &[mac, hosts] = *devices.begin();
        if (hosts.size() > 1)
            throw RefusedError(conflictText(mac));
        const Reply &r = hosts.front();
        target_ = Found{parseDiscover(r.body), r.ifname, r.rttMs};
        return *target_;
    }
    throw NoReplyError("no device " + options_.device + " answered on " +
                       replies().interfaceList() + " within " +
                       secondsText(secondsSince(start), 1) + triesText(tries));
}

const Found &Session::rediscover() {
    const Mac mac = target().info.mac;
    options_.device = formatMac(mac);
    target_.reset();
    return target();
}

std::optional<Reply> Session::exchange(uint16_t op,
                                       std::span<const uint16_t> tags,
                                       const std::optional<Address> &to,
                                       std::span<const uint8_t> request,
                                       const std::string &ifname,
                                       double wait) {
    Transport &t = replies();
    const auto sent = Clock::now();
    t.broadcast(request, wire::kRequestPort, ifname);
    auto deadline = sent + seconds(wait);
    TriedAnswers answers;
    while (auto d = t.receive(deadline)) {
        const wire::message_t h = wire::decode_header(d->bytes);
        if (std::none_of(tags.begin(), tags.end(),
                         [&](uint16_t tag) { return isReplyTo(h, op, tag); }))
            continue;
        // Every reply to an addressed request carries the device's MAC,
        // either copied from the request or as the device's own.
        if (to && !std::equal(to->mac.begin(), to->mac.end(), h.ucMac))
            continue;
        if (!answers.answer())
            deadline = d->at + seconds(options_.grace);
        if (!answers.add(toReply(h, *d, sent)))
            throw RefusedError(conflictText(macOf(*answers.answer())));
    }
    if (const Reply *r = answers.answer())
        return *r;
    return std::nullopt;
}

std::optional<Reply> Session::send(uint16_t op,
                                   std::span<const uint8_t> body,
                                   int tries,
                                   double lastWait,
                                   double &waited) {
    const Found &dev = target();
    const Address to{dev.info.mac, dev.info.ip};
    const Credentials cred = carriesCredentials(op) ? credentials() : Credentials{};
    const std::string mac = formatMac(dev.info.mac);
    const auto start = Clock::now();
    // A new tag for every try: a late answer to an earlier try still counts,
    // but is compared only with answers to its own try.
    std::vector<uint16_t> tags;
    for (int attempt = 0; attempt < tries; attempt++) {
        const bool last = attempt + 1 == tries;
        const double wait = last ? std::max(options_.timeout, lastWait) : options_.timeout;
        uint16_t tag = newTag();
        while (std::find(tags.begin(), tags.end(), tag) != tags.end())
            tag = newTag();
        tags.push_back(tag);
        const Bytes request = encodeRequest(op, tags.back(), to, cred, body);
        std::optional<Reply> r = exchange(op, tags, to, request, dev.ifname, wait);
        if (!r)
            continue;
        if (r->header.uStatus == wire::kStatusAuthFailed)
            throw RefusedError("authentication failed for " + mac + ".");
        if (r->header.uStatus == wire::kStatusNotSupported)
            throw RefusedError(mac + " does not support operation " + opLabel(op) + ".");
        return r;
    }
    waited = secondsSince(start);
    return std::nullopt;
}

std::optional<Reply> Session::callOnce(uint16_t op, std::span<const uint8_t> body) {
    double waited = 0;
    return send(op, body, 1, 0, waited);
}

Reply Session::call(uint16_t op, std::span<const uint8_t> body, double lastWait) {
    const int tries = options_.retries + 1;
    double waited = 0;
    if (std::optional<Reply> r = send(op, body, tries, lastWait, waited))
        return std::move(*r);
    const Found &dev = target();
    throw NoReplyError(formatMac(dev.info.mac) + " did not answer " + opLabel(op) + " on " +
                       dev.ifname + " within " + secondsText(waited, 1) + triesText(tries));
}

Reply Session::start(uint16_t op, std::span<const uint8_t> body, double seconds) {
    double waited = 0;
    if (std::optional<Reply> r = send(op, body, 1, seconds, waited))
        return std::move(*r);
    const Found &dev = target();
    throw NoReplyError(formatMac(dev.info.mac) + " did not answer " + opLabel(op) + " on " +
                       dev.ifname + " within " + secondsText(waited, 1) +
                       "; it was sent once, since another copy would start the work again.");
}

}  // namespace tarn
