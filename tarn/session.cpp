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

Session::Session(Options options) : options_(std::move(options)), random_(std::random_device{}()) {
    if (options_.timeout <= 0)
        throw UsageError("-t takes a positive number of seconds.");
    if (options_.retries < 0)
        throw UsageError("-r takes a number of retries, 0 or more.");
}

std::vector<std::string> Session::interfaces() const {
    if (target_)
        return {target_->ifname};
    return options_.interfaces.empty() ? broadcastInterfaces() : options_.interfaces;
}

std::string Session::secondsText(double seconds) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g s", seconds);
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
    return Reply{h, Bytes(d.bytes.begin() + bodyAt, d.bytes.end()), d.ifname,
                 millisSince(sent, d.at)};
}

std::vector<Reply> Session::collect(uint16_t op) {
    Transport &t = replies();
    const uint16_t tag = newTag();
    const Bytes request = encodeRequest(op, tag, std::nullopt, {}, {});
    const auto sent = Clock::now();
    t.broadcast(request, wire::kRequestPort);
    const auto deadline = sent + seconds(options_.timeout);
    std::vector<Reply> out;
    while (auto d = t.receive(deadline)) {
        const wire::message_t h = wire::decode_header(d->bytes);
        if (!isReplyTo(h, op, tag) || h.uStatus != wire::kStatusOk)
            continue;
        // These replies carry the device's own MAC; a device reachable on
        // two interfaces answers twice.
        const bool seen = std::any_of(out.begin(), out.end(), [&](const Reply &r) {
            return std::equal(std::begin(r.header.ucMac), std::end(r.header.ucMac), h.ucMac);
        });
        if (!seen)
            out.push_back(toReply(h, *d, sent));
    }
    return out;
}

std::vector<Found> Session::discover() {
    std::vector<Found> out;
    for (const Reply &r : collect(wire::OP_DISCOVER))
        out.push_back(Found{parseDiscover(r.body), r.ifname, r.rttMs});
    return out;
}

const Found &Session::target() {
    if (target_)
        return *target_;
    if (options_.device.empty())
        throw UsageError("this command needs a device: name it with -d MAC or -d IPv4.");
    const Selector sel = parseSelector(options_.device);
    Transport &t = replies();
    const uint16_t tag = newTag();
    const Bytes request = encodeRequest(wire::OP_DISCOVER, tag, std::nullopt, {}, {});
    for (int attempt = 0; attempt <= options_.retries; attempt++) {
        const auto sent = Clock::now();
        t.broadcast(request, wire::kRequestPort);
        const auto deadline = sent + seconds(options_.timeout);
        while (auto d = t.receive(deadline)) {
            const wire::message_t h = wire::decode_header(d->bytes);
            if (!isReplyTo(h, wire::OP_DISCOVER, tag) || h.uStatus != wire::kStatusOk)
                continue;
            const Reply r = toReply(h, *d, sent);
            DeviceInfo info = parseDiscover(r.body);
            if (matches(sel, info)) {
                target_ = Found{std::move(info), r.ifname, r.rttMs};
                return *target_;
            }
        }
    }
    const int tries = options_.retries + 1;
    throw NoReplyError("no device " + options_.device + " answered on " + t.interfaceList() +
                       " within " + timeoutText() + triesText(tries));
}

std::optional<Reply> Session::exchange(uint16_t op, uint16_t tag, const std::optional<Address> &to,
                                       std::span<const uint8_t> request,
                                       const std::string &ifname, double wait) {
    Transport &t = replies();
    const auto sent = Clock::now();
    t.broadcast(request, wire::kRequestPort, ifname);
    const auto deadline = sent + seconds(wait);
    while (auto d = t.receive(deadline)) {
        const wire::message_t h = wire::decode_header(d->bytes);
        if (!isReplyTo(h, op, tag))
            continue;
        // Every reply to an addressed request carries the device's MAC,
        // either copied from the request or as the device's own.
        if (to && !std::equal(to->mac.begin(), to->mac.end(), h.ucMac))
            continue;
        return toReply(h, *d, sent);
    }
    return std::nullopt;
}

std::optional<Reply> Session::send(uint16_t op, std::span<const uint8_t> body, int tries,
                                   double lastWait) {
    const Found &dev = target();
    const Address to{dev.info.mac, dev.info.ip};
    const Credentials cred = carriesCredentials(op) ? credentials() : Credentials{};
    const uint16_t tag = newTag();
    // The same tag on every try, so a late answer to an earlier try counts.
    const Bytes request = encodeRequest(op, tag, to, cred, body);
    const std::string mac = formatMac(dev.info.mac);
    for (int attempt = 0; attempt < tries; attempt++) {
        const bool last = attempt + 1 == tries;
        const double wait = last ? std::max(options_.timeout, lastWait) : options_.timeout;
        std::optional<Reply> r = exchange(op, tag, to, request, dev.ifname, wait);
        if (!r)
            continue;
        if (r->header.uStatus == wire::kStatusAuthFailed)
            throw RefusedError("authentication failed for " + mac + ".");
        if (r->header.uStatus == wire::kStatusNotSupported)
            throw RefusedError(mac + " does not support operation " + opLabel(op) + ".");
        return r;
    }
    return std::nullopt;
}

std::optional<Reply> Session::callOnce(uint16_t op, std::span<const uint8_t> body) {
    return send(op, body, 1, 0);
}

Reply Session::call(uint16_t op, std::span<const uint8_t> body, double lastWait) {
    const int tries = options_.retries + 1;
    if (std::optional<Reply> r = send(op, body, tries, lastWait))
        return std::move(*r);
    const Found &dev = target();
    throw NoReplyError(formatMac(dev.info.mac) + " did not answer " + opLabel(op) + " on " +
                       dev.ifname + " within " + timeoutText() + triesText(tries));
}

}  // namespace tarn
