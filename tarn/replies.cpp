#include "replies.h"

#include <algorithm>

namespace tarn {

Mac macOf(const Reply &reply) {
    Mac mac{};
    std::copy(std::begin(reply.header.ucMac), std::end(reply.header.ucMac), mac.begin());
    return mac;
}

bool sameAnswer(const Reply &a, const Reply &b) {
    const wire::message_t &x = a.header, &y = b.header;
    return x.uMsgType == y.uMsgType && x.uMsgTag == y.uMsgTag && x.uOP_Code == y.uOP_Code &&
           std::equal(std::begin(x.ucMac), std::end(x.ucMac), y.ucMac) &&
           std::equal(std::begin(x.ucIp), std::end(x.ucIp), y.ucIp) && x.uStatus == y.uStatus &&
           x.uRetFlag == y.uRetFlag && x.uBodyLen == y.uBodyLen && a.body == b.body;
}

bool sameHost(const Reply &a, const Reply &b) {
    return a.ifname != b.ifname && a.from == b.from && sameAnswer(a, b);
}

bool TriedAnswers::add(Reply reply) {
    const auto same = std::find_if(firsts_.begin(), firsts_.end(), [&](const Reply &r) {
        return r.header.uMsgTag == reply.header.uMsgTag;
    });
    if (same == firsts_.end()) {
        firsts_.push_back(std::move(reply));
        return true;
    }
    return sameAnswer(*same, reply);
}

void DeviceReplies::add(Reply reply) {
    const Mac mac = macOf(reply);
    auto it = devices_.find(mac);
    if (it == devices_.end()) {
        if (devices_.size() >= limit_) {
            dropped_++;
            return;
        }
        devices_.emplace(mac, std::vector<Reply>{std::move(reply)});
        return;
    }
    std::vector<Reply> &hosts = it->second;
    const bool known =
        std::any_of(hosts.begin(), hosts.end(), [&](const Reply &r) { return sameHost(r, reply); });
    if (!known && hosts.size() < kMaxHostsPerMac)
        hosts.push_back(std::move(reply));
}

std::string conflictText(const Mac &mac) {
    return "conflicting replies for " + formatMac(mac) + ": is another host answering for it?";
}

}  // namespace tarn
