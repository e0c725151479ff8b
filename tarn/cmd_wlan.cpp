// wlan get and wlan set: the eight networks of one radio.
#include <algorithm>
#include <array>
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

// The VLAN id as a number, as --vlan takes it; null when it is not one.
Field vlanField(const SsidEntry &e) {
    const std::optional<long> id = vlanOf(e);
    return id ? number("vlan", *id) : null("vlan");
}

Record entryRecord(const Radio &radio, size_t vap, const SsidEntry &e, bool showKey) {
    const SecurityMode *sec = securityOf(e);
    return {
        text("radio", std::string(radio.band)),
        number("vap", static_cast<int64_t>(vap)),
        text("ssid", e.ssid),
        vlanField(e),
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
    std::vector<Column> columns{
        {"vap", "VAP"}, {"ssid", "SSID"}, {"vlan", "VLAN"}, {"security", "SECURITY"}};
    if (showKeys)
        columns.push_back({"key", "KEY"});
    if (!s.options().json)
        std::printf("%s GHz radio (%s) of %s:\n", std::string(radio.band).c_str(),
                    std::string(radio.device).c_str(), formatMac(s.target().info.mac).c_str());
    emitList(s, records, columns);
    return kExitOk;
}

// The three fields of a network that tarn reads and writes back, each with
// its option for the network being changed and the one for the others.
struct NetworkField {
    std::string_view name;         // for messages
    std::string_view option;       // --ssid
    std::string_view otherOption;  // --ssid-for N=VALUE
    size_t width;
    std::string SsidEntry::*value;
};

constexpr NetworkField kFields[] = {
    {"SSID", "--ssid", "--ssid-for", wire::multi_ssid::kSsidLen, &SsidEntry::ssid},
    {"VLAN id", "--vlan", "--vlan-for", wire::multi_ssid::kVlanIdLen, &SsidEntry::vlan},
    {"key", "--key", "--key-for", wire::multi_ssid::kKeyLen, &SsidEntry::key},
};

// What the command line gives for one network.
struct Given {
    std::optional<std::string> values[std::size(kFields)];
};

std::string checkedValue(const NetworkField &f, const std::string &value) {
    if (value.size() > f.width)
        throw UsageError("the " + std::string(f.name) + " is longer than the device's field of " +
                         std::to_string(f.width) + " bytes; tarn does not cut it.");
    if (f.value == &SsidEntry::vlan)
        return std::to_string(parseInteger(value, "the VLAN id", 1, 4094));
    if (f.value == &SsidEntry::ssid && value.empty())
        throw UsageError("the device keeps the old SSID when it is sent an empty one.");
    return value;
}

// --ssid-for, --vlan-for and --key-for: N=VALUE for another network of the radio.
void takeOtherValues(Args &a, size_t vap, std::array<Given, kVapCount> &given) {
    for (size_t f = 0; f < std::size(kFields); f++) {
        const NetworkField &field = kFields[f];
        for (const std::string &v : a.values(field.otherOption)) {
            const size_t eq = v.find('=');
            if (eq == std::string::npos)
                throw UsageError(std::string(field.otherOption) +
                                 " takes N=VALUE: the number of the network, \"=\" and its value.");
            const auto n = static_cast<size_t>(
                parseInteger(v.substr(0, eq), field.otherOption, 0, kVapCount - 1));
            if (n == vap)
                throw UsageError("network " + std::to_string(n) +
                                 " is the one being changed: give its " + std::string(field.name) +
                                 " with " + std::string(field.option) + ".");
            if (given[n].values[f])
                throw UsageError(std::string(field.otherOption) + " names network " +
                                 std::to_string(n) + " more than once.");
            given[n].values[f] = checkedValue(field, v.substr(eq + 1));
        }
    }
}

// A VLAN id of four digits fills its field, but one that reads as 1 to
// 4094 is whole: a longer stored number would not be a VLAN id.
bool completeVlan(const NetworkField &f, const std::string &value) {
    if (f.value != &SsidEntry::vlan)
        return false;
    int id = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), id);
    return ec == std::errc() && end == value.data() + value.size() && id >= 1 && id <= 4094;
}

// Values read back that fill their field and that the command line does not
// replace: tarn may not write them back. The sentence names each one and
// the option that supplies it.
void refuseCutValues(const MultiSsid &m,
                     const std::array<Given, kVapCount> &given,
                     size_t vap,
                     const Radio &radio) {
    std::string which, how;
    for (size_t k = 0; k < kVapCount; k++) {
        for (size_t f = 0; f < std::size(kFields); f++) {
            const NetworkField &field = kFields[f];
            const std::string &value = m.entries[k].*field.value;
            if (given[k].values[f] || !mayBeCut(value, field.width) || completeVlan(field, value))
                continue;
            which += std::string(which.empty() ? "" : ", ") + "the " + std::string(field.name) +
                     " of network " + std::to_string(k);
            how += " " +
                   (k == vap ? std::string(field.option) + " VALUE"
                             : std::string(field.otherOption) + " " + std::to_string(k) + "=VALUE");
        }
    }
    if (which.empty())
        return;
    throw UsageError(
        which + " of the " + std::string(radio.band) +
        " GHz radio fill their fields of the device's reply, so they may have been cut, "
        "and tarn does not write back a value it may have read cut; give them with" +
        how + " (nothing was changed).");
}

int wlanSet(Session &s, Args &a) {
    const Radio &radio = radioOption(a);
    const std::optional<std::string> vapText = a.value("--vap");
    if (!vapText)
        throw UsageError("wlan set needs --vap N (0 is the main network, 1 to 7 the others).");
    const auto vap = static_cast<size_t>(parseInteger(*vapText, "--vap", 0, kVapCount - 1));
    constexpr size_t kKeyField = 2;
    static_assert(kFields[kKeyField].value == &SsidEntry::key);
    std::array<Given, kVapCount> given;
    for (size_t f = 0; f < kKeyField; f++)
        if (const std::optional<std::string> v = a.value(kFields[f].option))
            given[vap].values[f] = checkedValue(kFields[f], *v);
    const std::optional<std::string> security = a.value("--security");
    const std::optional<std::string> keyText = a.value(kKeySource.option);
    const std::optional<std::string> keyFile = a.value(kKeySource.fileOption);
    takeOtherValues(a, vap, given);
    a.finish();
    const Given &mine = given[vap];
    const bool anyField = std::any_of(std::begin(mine.values), std::end(mine.values),
                                      [](const auto &v) { return v.has_value(); });
    if (!anyField && !security && !keyText && !keyFile)
        throw UsageError("wlan set: nothing to change; give --ssid, --vlan, --security or --key.");
    const SecurityMode *mode = nullptr;
    if (security) {
        mode = securityByName(*security);
        if (!mode)
            throw UsageError("--security takes one of " + securityNames() + ", not \"" + *security +
                             "\".");
    }
    if (keyText || keyFile)
        given[vap].values[kKeyField] =
            checkedValue(kFields[kKeyField], *givenSecret(kKeySource, keyText, keyFile));

    // The device replaces all eight networks at once: send back what it has,
    // with the changes.
    MultiSsid m = readNetworks(s, radio);
    SsidEntry &e = m.entries[vap];
    const SecurityMode *before = securityOf(e);
    e.security = mode ? std::to_string(mode->code) : e.security;
    // A switch to a keyed security takes the key from TARN_WLAN_KEY or asks
    // for it only when the network has none that fits (WPA and WPA2 share
    // the passphrase).
    if (!mine.values[kKeyField] && mode && mode->keyed && needsNewKey(before, *mode)) {
        try {
            given[vap].values[kKeyField] = checkedValue(
                kFields[kKeyField], readNewSecret(kKeySource, std::nullopt, std::nullopt));
        } catch (const UsageError &err) {
            throw UsageError("network " + std::to_string(vap) + " becomes " +
                             std::string(mode->name) + ", which needs a key; " + err.what());
        }
    }
    for (size_t k = 0; k < kVapCount; k++) {
        const std::optional<std::string> &key = given[k].values[kKeyField];
        const SecurityMode *sec = securityOf(m.entries[k]);
        if (!key || !sec)
            continue;
        if (!sec->keyed)
            throw UsageError(
                "a key applies only to static-wep and WPA personal networks; network " +
                std::to_string(k) + " is " + std::string(sec->name) + ".");
        if (const std::string problem = keyProblem(*sec, *key); !problem.empty())
            throw UsageError("network " + std::to_string(k) + ": " + problem);
    }
    // A network whose security takes no key is sent an empty one: its old
    // key means nothing now, so it is neither checked for cutting nor
    // compared on the read-back (the device may keep it).
    std::array<bool, kVapCount> keyless{};
    for (size_t k = 0; k < kVapCount; k++) {
        const SecurityMode *sec = securityOf(m.entries[k]);
        keyless[k] = sec && !sec->keyed;
        if (keyless[k])
            m.entries[k].key.clear();
    }
    refuseCutValues(m, given, vap, radio);
    for (size_t k = 0; k < kVapCount; k++)
        for (size_t f = 0; f < std::size(kFields); f++)
            if (given[k].values[f])
                m.entries[k].*kFields[f].value = *given[k].values[f];

    s.call(wire::OP_SET_MULTI_SSID, multiSsidSetBody(radio.index, m));
    // Read back what was changed: the device acknowledges every set.
    const MultiSsid after = readNetworks(s, radio);
    std::string differs;
    for (size_t k = 0; k < kVapCount; k++) {
        const bool changed =
            k == vap || std::any_of(std::begin(given[k].values), std::end(given[k].values),
                                    [](const auto &v) { return v.has_value(); });
        if (!changed)
            continue;
        const std::pair<std::string_view, std::string SsidEntry::*> compared[] = {
            {"SSID", &SsidEntry::ssid},
            {"VLAN id", &SsidEntry::vlan},
            {"security code", &SsidEntry::security},
            {"key", &SsidEntry::key}};
        for (const auto &[name, member] : compared) {
            if (after.entries[k].*member == m.entries[k].*member ||
                (member == &SsidEntry::key && keyless[k]))
                continue;
            const bool secret = member == &SsidEntry::key;
            differs += std::string(differs.empty() ? "" : ", ") + "network " + std::to_string(k) +
                       " " + std::string(name) +
                       (secret ? " (not the one sent)" : " \"" + after.entries[k].*member + "\"");
        }
    }
    const std::string mac = formatMac(s.target().info.mac);
    if (!differs.empty())
        throw RefusedError(mac + " accepted network " + std::to_string(vap) + " of the " +
                           std::string(radio.band) + " GHz radio, but the device still reports " +
                           differs + ".");
    emit(s,
         mac + " accepted network " + std::to_string(vap) + " of the " + std::string(radio.band) +
             " GHz radio and reports it back as sent (save it with tarn commit):",
         entryRecord(radio, vap, after.entries[vap], false));
    return kExitOk;
}

}  // namespace

int cmdWlan(Session &s, Args &a) {
    return runAction(s, a, "wlan", {"get", wlanGet}, {"set", wlanSet});
}

}  // namespace tarn
