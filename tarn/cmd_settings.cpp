// set, verify, passwd, ddns, commit, factory-reset, netstatus, time, vlan
// and snmp: the operations that read or change one group of settings.
#include <cstdio>
#include <ctime>
#include <tuple>
#include <utility>

#include "commands.h"
#include "credentials.h"
#include "errors.h"
#include "records.h"
#include "results.h"

namespace tarn {

namespace {

// The characters the device refuses in a new password.
constexpr std::string_view kRefusedPasswordChars = "@:-/\\%\"'";

Ipv4 ipv4Option(const std::string &value, std::string_view what) {
    std::optional<Ipv4> ip = parseIpv4(value);
    if (!ip)
        throw UsageError(std::string(what) + " takes an IPv4 address, not \"" + value + "\".");
    return *ip;
}

std::string macOf(Session &s) {
    return formatMac(s.target().info.mac);
}

Record basicInfoRecord(const BasicInfo &b) {
    return {
        text("name", b.name),
        boolean("dhcp", b.dhcp),
        text("ipv4", formatIpv4(b.ip)),
        text("mask", formatIpv4(b.mask)),
        text("gateway", formatIpv4(b.gateway)),
        text("dns_mode", b.staticDns ? "static" : "dhcp"),
        text("dns1", formatIpv4(b.dns1)),
        text("dns2", formatIpv4(b.dns2)),
        boolean("ipv6_auto", b.ipv6Auto),
        ipv6Field("ipv6", b.ipv6, b.ipv6Prefix),
    };
}

// What set was asked to change; everything else stays as discovery saw it.
struct SetChanges {
    std::optional<std::string> name;
    bool dhcp = false;
    std::optional<Ipv4> ip, mask, gateway;
    bool dnsDhcp = false;
    std::optional<std::pair<Ipv4, Ipv4>> dns;
    bool ipv6Auto = false;
    std::optional<std::pair<Ipv6, uint8_t>> ipv6;

    bool any() const {
        return name || dhcp || ip || mask || gateway || dnsDhcp || dns || ipv6Auto || ipv6;
    }
};

std::optional<Ipv4> ipv4Value(Args &a, std::string_view option) {
    const std::optional<std::string> v = a.value(option);
    return v ? std::optional<Ipv4>(ipv4Option(*v, option)) : std::nullopt;
}

std::pair<Ipv4, Ipv4> dnsValue(const std::string &v) {
    const size_t comma = v.find(',');
    return {ipv4Option(v.substr(0, comma), "--dns"),
            comma == std::string::npos ? Ipv4{} : ipv4Option(v.substr(comma + 1), "--dns")};
}

std::pair<Ipv6, uint8_t> ipv6Value(const std::string &v) {
    const size_t slash = v.find('/');
    const std::optional<Ipv6> addr = parseIpv6(v.substr(0, slash));
    // The device refuses the unspecified address.
    if (!addr || allZero(*addr))
        throw UsageError("--ipv6 takes ADDRESS/PREFIX with a non-zero IPv6 address, not \"" + v +
                         "\".");
    const long prefix = slash == std::string::npos
                            ? 64
                            : parseInteger(v.substr(slash + 1), "the IPv6 prefix length", 0, 128);
    return {*addr, static_cast<uint8_t>(prefix)};
}

SetChanges setOptions(Args &a) {
    SetChanges c;
    c.name = a.value("--name");
    if (c.name)
        checkWidth(*c.name, wire::basic_info::kSystemNameLen, "the name");
    c.dhcp = a.flag("--dhcp");
    c.ip = ipv4Value(a, "--ip");
    c.mask = ipv4Value(a, "--mask");
    c.gateway = ipv4Value(a, "--gateway");
    if (c.dhcp && (c.ip || c.mask || c.gateway))
        throw UsageError("--dhcp and a static address (--ip, --mask, --gateway) exclude each other.");
    c.dnsDhcp = a.flag("--dns-dhcp");
    if (std::optional<std::string> dns = a.value("--dns"))
        c.dns = dnsValue(*dns);
    if (c.dns && c.dnsDhcp)
        throw UsageError("--dns and --dns-dhcp exclude each other.");
    c.ipv6Auto = a.flag("--ipv6-auto");
    if (std::optional<std::string> v6 = a.value("--ipv6"))
        c.ipv6 = ipv6Value(*v6);
    if (c.ipv6Auto && c.ipv6)
        throw UsageError("--ipv6-auto and --ipv6 exclude each other.");
    a.finish();
    if (!c.any())
        throw UsageError("set: nothing to change; give --name, --dhcp, --ip, --mask, --gateway, "
                         "--dns, --dns-dhcp, --ipv6-auto or --ipv6.");
    return c;
}

BasicInfo applyChanges(BasicInfo b, const SetChanges &c) {
    b.name = c.name.value_or(b.name);
    if (c.dhcp)
        b.dhcp = true;
    if (c.ip || c.mask || c.gateway) {
        // A static address switches DHCP off; what is not given is kept.
        b.dhcp = false;
        b.ip = c.ip.value_or(b.ip);
        b.mask = c.mask.value_or(b.mask);
        b.gateway = c.gateway.value_or(b.gateway);
    }
    if (c.dnsDhcp)
        b.staticDns = false;
    if (c.dns) {
        b.staticDns = true;
        std::tie(b.dns1, b.dns2) = *c.dns;
    }
    if (c.ipv6Auto)
        b.ipv6Auto = true;
    if (c.ipv6) {
        b.ipv6Auto = false;
        std::tie(b.ipv6, b.ipv6Prefix) = *c.ipv6;
    }
    return b;
}

std::string readNewPassword(Args &a) {
    // TARN_PASSWORD is the current password, never the new one.
    return readNewSecret({"password", "", "--new-password-file", ""}, std::nullopt,
                         a.value("--new-password-file"));
}

void checkNewPassword(const std::string &password) {
    const size_t bad = password.find_first_of(kRefusedPasswordChars);
    if (bad != std::string::npos)
        throw UsageError(std::string("the new password contains \"") + password[bad] +
                         "\", which the device refuses; it may not contain any of @ : - / \\ % \" '.");
    // The device hands the password to its tool with a backslash before
    // these two, and the backslash becomes part of the password.
    const size_t escaped = password.find_first_of("$`");
    if (escaped != std::string::npos)
        throw UsageError(std::string("the new password contains \"") + password[escaped] +
                         "\", which the device would keep a backslash in front of; choose "
                         "another password.");
    checkCredentialLength("new password", password);
}

DateTime readTime(Session &s) {
    return parseDatetime(s.call(wire::OP_GET_DATETIME, {}).body);
}

Record timeRecord(const DateTime &d) {
    return {
        text("datetime", formatStamp(d.stamp)),
        number("time_zone", d.timeZone),
        boolean("daylight_saving", d.daylightSaving != 0),
        boolean("ntp", d.ntp),
        d.ntp ? text("ntp_server", d.ntpServer) : null("ntp_server"),
    };
}

std::string hostStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[16];
    std::strftime(buf, sizeof buf, "%Y%m%d%H%M%S", &tm);
    return buf;
}

std::string stampOption(const std::string &value) {
    if (value == "now")
        return hostStamp();
    const bool digits = value.size() == 14 && value.find_first_not_of("0123456789") == std::string::npos;
    if (!digits)
        throw UsageError("--date takes 14 digits YYYYMMDDhhmmss or \"now\", not \"" + value + "\".");
    return value;
}

Ddns readDdns(Session &s) {
    return parseNetAdv(s.call(wire::OP_GET_NET_ADV, {}).body);
}

Record ddnsRecord(const Ddns &d, bool showPassword) {
    return {
        boolean("enabled", d.enabled),
        boolean("connected", d.connected),
        text("user", d.user),
        showPassword ? text("password", d.password) : null("password"),
        text("domain", d.domain),
    };
}

}  // namespace

int cmdSet(Session &s, Args &a) {
    const SetChanges changes = setOptions(a);
    const BasicInfo b = applyChanges(basicInfoFrom(s.target().info), changes);
    expectResultZero(s.call(wire::OP_SET_BASIC_INFO, basicInfoBody(b)), "the new settings");
    emit(s, macOf(s) + " accepted the settings:", basicInfoRecord(b));
    return kExitOk;
}

int cmdVerify(Session &s, Args &a) {
    a.finish();
    const uint32_t code = parseUserVerify(s.call(wire::OP_USER_VERIFY, {}).body);
    const bool admin = code == wire::user_verify::kAdmin;
    const Record rec{text("user", s.options().user), boolean("administrator", admin),
                     resultField(kVerifyResults, code)};
    if (!admin) {
        if (s.options().json)
            emit(s, "", rec);
        throw RefusedError("the password is right, but " + s.options().user +
                           " is not the administrator of " + macOf(s) + ".");
    }
    emit(s, s.options().user + " is the administrator of " + macOf(s) + ".", rec);
    return kExitOk;
}

int cmdPasswd(Session &s, Args &a) {
    const std::string password = readNewPassword(a);
    a.finish();
    checkNewPassword(password);
    const Reply r = s.call(wire::OP_CHANGE_ADMIN, changeAdminBody(s.options().user, password));
    const uint32_t result = parseResult(r.body);
    const std::string mac = macOf(s);
    switch (result) {
    case 0:
        emit(s, "the password of " + s.options().user + " on " + mac + " was changed.",
             {text("user", s.options().user), resultField(kAckResults, 0)});
        return kExitOk;
    case wire::change_admin::kResultNotAdmin:
        throw RefusedError(mac + " changes only the password of user admin, not of \"" +
                           s.options().user + "\" (result 1001).");
    case wire::change_admin::kResultBadChar:
        throw RefusedError(mac + " refused a character of the new password (result 1006).");
    default:
        throw RefusedError(mac + " refused the password change (result " + std::to_string(result) +
                           ").");
    }
}

namespace {

int ddnsGet(Session &s, Args &a) {
    const bool show = a.flag("--show-password");
    a.finish();
    emit(s, "dynamic DNS of " + macOf(s) + ":", ddnsRecord(readDdns(s), show));
    return kExitOk;
}

int ddnsSet(Session &s, Args &a) {
    const std::optional<std::string> user = a.value("--user");
    const std::optional<std::string> domain = a.value("--domain");
    const std::optional<std::string> pwFile = a.value("--ddns-password-file");
    a.finish();
    if (!user && !domain && !pwFile)
        throw UsageError("ddns set: nothing to change; give --user, --domain or --ddns-password-file.");
    const std::optional<std::string> password =
        pwFile ? std::optional(readSecretFile(*pwFile)) : std::nullopt;
    checkWidth(user.value_or(""), wire::net_adv::kTextLen, "the dynamic-DNS user");
    checkWidth(domain.value_or(""), wire::net_adv::kTextLen, "the dynamic-DNS domain");
    checkWidth(password.value_or(""), wire::net_adv::kTextLen, "the dynamic-DNS password");
    // The device writes all three texts: start from what it has now.
    Ddns d = readDdns(s);
    d.user = user.value_or(d.user);
    d.domain = domain.value_or(d.domain);
    d.password = password.value_or(d.password);
    d.enabled = true;
    expectResultZero(s.call(wire::OP_SET_NET_ADV, netAdvBody(d)), "the dynamic-DNS settings");
    emit(s, macOf(s) + " accepted the dynamic-DNS settings:", ddnsRecord(d, false));
    return kExitOk;
}

}  // namespace

int cmdDdns(Session &s, Args &a) {
    return runAction(s, a, "ddns", {"get", ddnsGet}, {"set", ddnsSet});
}

int cmdCommit(Session &s, Args &a) {
    a.finish();
    expectResultZero(s.call(wire::OP_COMMIT, {}), "the commit");
    emit(s, macOf(s) + " saved its running settings.", {resultField(kAckResults, 0)});
    return kExitOk;
}

int cmdFactoryReset(Session &s, Args &a) {
    const bool keepIp = a.flag("--keep-ip");
    const bool yes = a.flag({"--yes", "-y"});
    a.finish();
    confirm(yes, "Reset " + deviceLabel(s.target()) + " to factory settings" +
                     (keepIp ? ", keeping its static IPv4 address?" : "?"));
    const uint16_t op = keepIp ? wire::OP_FACTORY_RESET_KEEP_IP : wire::OP_FACTORY_RESET;
    expectResultZero(s.call(op, {}), "the factory reset");
    emit(s, macOf(s) + (keepIp ? " is resetting to factory settings, keeping its static IPv4 address."
                               : " is resetting to factory settings."),
         {boolean("keep_ip", keepIp), resultField(kAckResults, 0)});
    return kExitOk;
}

int cmdNetstatus(Session &s, Args &a) {
    a.finish();
    const NetStatus st = parseNetStatus(s.call(wire::OP_QUERY_NET_STATUS, {}).body);
    if (!st.reported)
        throw RefusedError(macOf(s) + " reports no network status (its management interface is "
                                      "not the brtrunk bridge).");
    emit(s, "network status of " + macOf(s) + ":",
         {text("ipv4", formatIpv4(st.ip)), boolean("link_local", st.linkLocal)});
    return kExitOk;
}

namespace {

int timeGet(Session &s, Args &a) {
    a.finish();
    emit(s, "date and time of " + macOf(s) + ":", timeRecord(readTime(s)));
    return kExitOk;
}

int timeSet(Session &s, Args &a) {
    const std::optional<std::string> date = a.value("--date");
    const std::optional<std::string> zone = a.value("--timezone");
    const std::optional<std::string> dst = a.value("--dst");
    const std::optional<std::string> ntp = a.value("--ntp");
    const bool noNtp = a.flag("--no-ntp");
    a.finish();
    if (ntp && noNtp)
        throw UsageError("--ntp and --no-ntp exclude each other.");
    if (dst && *dst != "on" && *dst != "off")
        throw UsageError("--dst takes on or off, not \"" + *dst + "\".");
    if (!date && !zone && !dst && !ntp && !noNtp)
        throw UsageError("time set: nothing to change; give --date, --timezone, --dst, --ntp or --no-ntp.");
    const std::optional<std::string> stamp = date ? std::optional(stampOption(*date)) : std::nullopt;
    const std::optional<long> tz =
        zone ? std::optional(parseInteger(*zone, "--timezone", 0, 255)) : std::nullopt;
    if (ntp)
        checkWidth(*ntp, wire::datetime::kNtpServerLen, "the NTP server");
    // The device takes all fields at once: start from what it reports.
    DateTime d = readTime(s);
    d.stamp = stamp.value_or(d.stamp);
    d.timeZone = tz ? static_cast<uint8_t>(*tz) : d.timeZone;
    d.daylightSaving = dst ? (*dst == "on" ? 1 : 0) : d.daylightSaving;
    if (ntp) {
        d.ntp = true;
        d.ntpServer = *ntp;
    }
    d.ntp = noNtp ? false : d.ntp;
    expectResultZero(s.call(wire::OP_SET_DATETIME, datetimeBody(d)), "the date and time");
    emit(s, macOf(s) + " accepted the date and time settings:", timeRecord(d));
    return kExitOk;
}

}  // namespace

int cmdTime(Session &s, Args &a) {
    return runAction(s, a, "time", {"get", timeGet}, {"set", timeSet});
}

int cmdVlan(Session &s, Args &a) {
    const std::string idText = a.positional("VLAN id");
    a.finish();
    const auto id = static_cast<uint32_t>(parseInteger(idText, "the VLAN id", 0, 4094));
    expectResultZero(s.call(wire::OP_VLAN_CONFIG, vlanBody(id)), "the VLAN request");
    emit(s, macOf(s) + " moved its management to VLAN " + idText + ".", {number("vlan", id)});
    return kExitOk;
}

namespace {

constexpr SecretSource kReadOnlySource{"read-only community", "--ro", "--ro-file", "TARN_SNMP_RO"};
constexpr SecretSource kReadWriteSource{"read-write community", "--rw", "--rw-file", "TARN_SNMP_RW"};

}  // namespace

int cmdSnmp(Session &s, Args &a) {
    const std::optional<std::string> roText = a.value(kReadOnlySource.option);
    const std::optional<std::string> roFile = a.value(kReadOnlySource.fileOption);
    const std::optional<std::string> rwText = a.value(kReadWriteSource.option);
    const std::optional<std::string> rwFile = a.value(kReadWriteSource.fileOption);
    const std::string state = a.positional("SNMP state (on or off)");
    a.finish();
    if (state != "on" && state != "off")
        throw UsageError("snmp takes on or off, not \"" + state + "\".");
    // The device writes both communities on every request, so both are needed.
    const std::string ro = readNewSecret(kReadOnlySource, roText, roFile);
    const std::string rw = readNewSecret(kReadWriteSource, rwText, rwFile);
    checkWidth(ro, wire::snmp::kCommunityLen, "the read-only community");
    checkWidth(rw, wire::snmp::kCommunityLen, "the read-write community");
    expectResultZero(s.call(wire::OP_SNMP_CONFIG, snmpBody(state == "on", ro, rw)),
                     "the SNMP settings");
    // The communities are secrets: not echoed.
    emit(s, macOf(s) + " switched its SNMP agent " + state + ".", {boolean("enabled", state == "on")});
    return kExitOk;
}

}  // namespace tarn
