// wlan get and wlan set: the eight networks of one radio.
#include <charconv>

#include "commands.h"
#include "credentials.h"
#include "errors.h"
#include "security.h"

namespace tarn {

namespace {

struct Radio {
    uint8_t index;
    std::string_view band;  // as --radio takes it
    std::string_view device;
};

// Radio index 0 is the 2.4 GHz radio the device calls wlan1.
constexpr Radio kRadios[] = {{0, "2.4", "wlan1"}, {1, "5", "wlan0"}};

const Radio &radioOption(Args &a) {
    const std::optional<std::string> v = a.value("--radio");
    if (!v)
        throw UsageError("wlan needs --radio 2.4 or --radio 5.");
    for (const Radio &r : kRadios)
        if (r.band == *v)
            return r;
    throw UsageError("--radio takes 2.4 or 5, not \"" + *v + "\".");
}

const SecurityMode *securityOf(const SsidEntry &e) {
    unsigned code = 0;
    const auto [end, ec] = std::from_chars(e.security.data(), e.security.data() + e.security.size(), code);
    return ec == std::errc() ? securityByCode(code) : nullptr;
}

// The VLAN id as a number, as --vlan takes it; null when it is not one.
Field vlanField(const std::string &vlan) {
    int64_t id = 0;
    const auto [end, ec] = std::from_chars(vlan.data(), vlan.data() + vlan.size(), id);
    return ec == std::errc() && end == vlan.data() + vlan.size() ? number("vlan", id) : null("vlan");
}

Record entryRecord(const Radio &radio, size_t vap, const SsidEntry &e, bool showKey) {
    const SecurityMode *sec = securityOf(e);
    return {
        text("radio", std::string(radio.band)),
        number("vap", static_cast<int64_t>(vap)),
        text("ssid", e.ssid),
        vlanField(e.vlan),
        sec ? text("security", std::string(sec->name)) : null("security"),
        showKey ? text("key", e.key) : null("key"),
    };
}

constexpr SecretSource kKeySource{"Wi-Fi key", "--key", "--key-file", "TARN_WLAN_KEY"};

MultiSsid readNetworks(Session &s, const Radio &radio) {
    return parseMultiSsid(s.call(wire::OP_GET_MULTI_SSID, multiSsidGetBody(radio.index)).body);
}

int wlanGet(Session &s, Args &a) {
    const Radio &radio = radioOption(a);
    const bool showKeys = a.flag("--show-keys");
    a.finish();
    const MultiSsid m = readNetworks(s, radio);
    std::vector<Record> records;
    for (size_t k = 0; k < kVapCount; k++)
        records.push_back(entryRecord(radio, k, m.entries[k], showKeys));
    std::vector<Column> columns{{"vap", "VAP"}, {"ssid", "SSID"}, {"vlan", "VLAN"},
                                {"security", "SECURITY"}};
    if (showKeys)
        columns.push_back({"key", "KEY"});
    if (!s.options().json)
        std::printf("%s GHz radio (%s) of %s:\n", std::string(radio.band).c_str(),
                    std::string(radio.device).c_str(), formatMac(s.target().info.mac).c_str());
    emitList(s, records, columns);
    return kExitOk;
}

int wlanSet(Session &s, Args &a) {
    const Radio &radio = radioOption(a);
    const std::optional<std::string> vapText = a.value("--vap");
    const std::optional<std::string> ssid = a.value("--ssid");
    const std::optional<std::string> vlan = a.value("--vlan");
    const std::optional<std::string> security = a.value("--security");
    const std::optional<std::string> keyText = a.value(kKeySource.option);
    const std::optional<std::string> keyFile = a.value(kKeySource.fileOption);
    a.finish();
    if (!vapText)
        throw UsageError("wlan set needs --vap N (0 is the main network, 1 to 7 the others).");
    const auto vap = static_cast<size_t>(parseInteger(*vapText, "--vap", 0, kVapCount - 1));
    if (!ssid && !vlan && !security && !keyText && !keyFile)
        throw UsageError("wlan set: nothing to change; give --ssid, --vlan, --security or --key.");
    const SecurityMode *mode = nullptr;
    if (security) {
        mode = securityByName(*security);
        if (!mode)
            throw UsageError("--security takes one of " + securityNames() + ", not \"" + *security +
                             "\".");
    }
    // Switching to a keyed mode asks for the key unless one is given.
    const std::optional<std::string> key =
        keyText || keyFile || (mode && mode->keyed)
            ? std::optional(readNewSecret(kKeySource, keyText, keyFile))
            : std::nullopt;

    if (ssid) {
        checkWidth(*ssid, wire::multi_ssid::kSsidLen, "the SSID");
        if (ssid->empty())
            throw UsageError("the device keeps the old SSID when it is sent an empty one.");
    }
    const std::optional<long> vlanId =
        vlan ? std::optional(parseInteger(*vlan, "--vlan", 1, 4094)) : std::nullopt;
    if (key)
        checkWidth(*key, wire::multi_ssid::kKeyLen, "the key");

    // The device replaces all eight networks at once: send back what it has,
    // with the one change.
    MultiSsid m = readNetworks(s, radio);
    SsidEntry &e = m.entries[vap];
    e.ssid = ssid.value_or(e.ssid);
    e.vlan = vlanId ? std::to_string(*vlanId) : e.vlan;
    e.security = mode ? std::to_string(mode->code) : e.security;
    if (key) {
        const SecurityMode *now = securityOf(e);
        if (now && !now->keyed)
            throw UsageError("a key applies only to static-wep and WPA personal networks; network " +
                             std::to_string(vap) + " is " + std::string(now->name) + ".");
        e.key = *key;
    }
    s.call(wire::OP_SET_MULTI_SSID, multiSsidSetBody(radio.index, m));
    emit(s, formatMac(s.target().info.mac) + " accepted network " + std::to_string(vap) + " of the " +
                std::string(radio.band) + " GHz radio (save it with tarn commit):",
         entryRecord(radio, vap, e, false));
    return kExitOk;
}

}  // namespace

int cmdWlan(Session &s, Args &a) {
    return runAction(s, a, "wlan", {"get", wlanGet}, {"set", wlanSet});
}

}  // namespace tarn
