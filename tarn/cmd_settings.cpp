// set, verify, passwd, ddns, commit, factory-reset, netstatus, time, vlan
// and snmp: the operations that read or change one group of settings.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <tuple>
#include <utility>
#include <vector>

#include "commands.h"
#include "credentials.h"
#include "errors.h"
#include "records.h"
#include "results.h"

namespace tarn {

namespace {

// --timezone: whole hours from UTC.
constexpr long kZoneWest = -12, kZoneEast = 14;

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
    const std::string second = comma == std::string::npos ? "" : v.substr(comma + 1);
    if (second.find(',') != std::string::npos)
        throw UsageError("--dns takes one or two servers (the device keeps two), not \"" + v +
                         "\".");
    return {ipv4Option(v.substr(0, comma), "--dns"),
            comma == std::string::npos ? Ipv4{} : ipv4Option(second, "--dns")};
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
    if (c.name && c.name->find_first_not_of(" \t") == std::string::npos)
        throw UsageError("the name may not be empty: the device would store it as it is.");
    c.dhcp = a.flag("--dhcp");
    c.ip = ipv4Value(a, "--ip");
    c.mask = ipv4Value(a, "--mask");
    c.gateway = ipv4Value(a, "--gateway");
    if (c.dhcp && (c.ip || c.mask || c.gateway))
        throw UsageError(
            "--dhcp and a static address (--ip, --mask, --gateway) exclude each other.");
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
        throw UsageError(
            "set: nothing to change; give --name, --dhcp, --ip, --mask, --gateway, "
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

std::string joined(const std::vector<std::string> &items) {
    std::string text;
    for (const std::string &i : items)
        text += (text.empty() ? "" : ", ") + i;
    return text;
}

uint32_t asNumber(const Ipv4 &ip) {
    return uint32_t{ip[0]} << 24 | uint32_t{ip[1]} << 16 | uint32_t{ip[2]} << 8 | ip[3];
}

}  // namespace

void checkStaticAddress(const BasicInfo &b) {
    const uint32_t mask = asNumber(b.mask);
    if (mask == 0 || (~mask & (~mask + 1)) != 0)
        throw UsageError(formatIpv4(b.mask) +
                         " is not a network mask: its one bits must be contiguous "
                         "from the left.");
    if (!onSubnet(b.ip, b.mask, b.gateway))
        throw UsageError("the gateway " + formatIpv4(b.gateway) + " is outside the subnet of " +
                         formatIpv4(b.ip) + " with mask " + formatIpv4(b.mask) + ".");
}

namespace {

// The fields of the request that set was not asked to change and that the
// device applies: they go back as discovery reports them, the only read
// the protocol has for them.
std::vector<std::string> writtenBack(const BasicInfo &b, const SetChanges &c) {
    std::vector<std::string> out;
    if (!c.name)
        out.push_back("name \"" + b.name + "\"");
    if (!c.dhcp && !(c.ip || c.mask || c.gateway))
        out.push_back(b.dhcp ? "DHCP on" : "DHCP off");
    if (!b.dhcp) {
        if (!c.ip)
            out.push_back("address " + formatIpv4(b.ip));
        if (!c.mask)
            out.push_back("mask " + formatIpv4(b.mask));
        if (!c.gateway)
            out.push_back("gateway " + formatIpv4(b.gateway));
    }
    if (!c.dns && !c.dnsDhcp)
        out.push_back(b.staticDns ? "DNS servers " + formatIpv4(b.dns1) + ", " + formatIpv4(b.dns2)
                                  : "DNS from DHCP");
    if (!c.ipv6 && !c.ipv6Auto)
        out.push_back(b.ipv6Auto
                          ? "IPv6 autoconfiguration"
                          : "IPv6 " + formatIpv6(b.ipv6) + "/" + std::to_string(b.ipv6Prefix));
    return out;
}

// What a new discovery reports differently from what set sent, among the
// fields discovery reports as stored. The IPv4 address, mask and gateway it
// reports are the ones in use, which the device changes on its own time.
std::string setDifferences(const BasicInfo &sent, const DeviceInfo &now) {
    std::vector<std::string> out;
    if (now.name != sent.name)
        out.push_back("name \"" + now.name + "\"");
    if (now.dhcp != sent.dhcp)
        out.push_back(now.dhcp ? "DHCP on" : "DHCP off");
    if (now.staticDns != sent.staticDns)
        out.push_back(now.staticDns ? "static DNS servers" : "DNS from DHCP");
    else if (sent.staticDns && (now.dns1 != sent.dns1 || now.dns2 != sent.dns2))
        out.push_back("DNS servers " + formatIpv4(now.dns1) + ", " + formatIpv4(now.dns2));
    if (now.ipv6Auto != sent.ipv6Auto)
        out.push_back(now.ipv6Auto ? "IPv6 autoconfiguration on" : "IPv6 autoconfiguration off");
    return joined(out);
}

std::string readNewPassword(Args &a) {
    // TARN_PASSWORD is the current password, never the new one.
    return readNewSecret({"password", "", "--new-password-file", ""}, std::nullopt,
                         a.value("--new-password-file"));
}

void checkNewPassword(const std::string &password) {
    if (password.find_first_not_of(" \t\r\n") == std::string::npos)
        throw UsageError(
            "the new password is empty or blank; the device would store it and no "
            "password would work after that.");
    const size_t bad = password.find_first_of(wire::change_admin::kForbiddenPasswordChars);
    if (bad != std::string::npos)
        throw UsageError(
            std::string("the new password contains \"") + password[bad] +
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
        number("time_zone", static_cast<int8_t>(d.timeZone)),
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

// The seconds since 1970 of a 14-digit stamp read as UTC, or nothing for a
// text that is no date and time of the calendar.
std::optional<std::time_t> stampSeconds(const std::string &stamp) {
    const bool digits =
        stamp.size() == 14 && stamp.find_first_not_of("0123456789") == std::string::npos;
    if (!digits)
        return std::nullopt;
    const auto part = [&](size_t at, size_t n) { return std::stoi(stamp.substr(at, n)); };
    std::tm tm{};
    tm.tm_year = part(0, 4) - 1900;
    tm.tm_mon = part(4, 2) - 1;
    tm.tm_mday = part(6, 2);
    tm.tm_hour = part(8, 2);
    tm.tm_min = part(10, 2);
    tm.tm_sec = part(12, 2);
    const std::tm asked = tm;
    const std::time_t t = timegm(&tm);
    // timegm() normalises: 2026-13-01 would become 2027-01-01.
    const bool same = tm.tm_year == asked.tm_year && tm.tm_mon == asked.tm_mon &&
                      tm.tm_mday == asked.tm_mday && tm.tm_hour == asked.tm_hour &&
                      tm.tm_min == asked.tm_min && tm.tm_sec == asked.tm_sec;
    if (!same || asked.tm_year < 70)
        return std::nullopt;
    return t;
}

std::string stampOption(const std::string &value) {
    if (value == "now")
        return hostStamp();
    if (!stampSeconds(value))
        throw UsageError(
            "--date takes a date and time from 1970 on as 14 digits YYYYMMDDhhmmss, or "
            "\"now\", not \"" +
            value + "\".");
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
    const DeviceInfo &info = s.target().info;
    if (!changes.name && mayBeCut(info.name, wire::basic_info::kSystemNameLen))
        throw UsageError(
            "the name of " + macOf(s) + " fills the " +
            std::to_string(wire::basic_info::kSystemNameLen) +
            "-byte field of its discovery reply, so it may have been cut, and tarn does not "
            "write back a value it may have read cut; give the name with --name (nothing "
            "was changed).");
    const BasicInfo b = applyChanges(basicInfoFrom(info), changes);
    if (!b.dhcp && (changes.ip || changes.mask || changes.gateway))
        checkStaticAddress(b);
    const std::string kept = joined(writtenBack(b, changes));
    expectResultZero(s.call(wire::OP_SET_BASIC_INFO, basicInfoBody(b)), "the new settings");
    const std::string differs = setDifferences(b, s.rediscover().info);
    if (!differs.empty())
        throw RefusedError(macOf(s) + " accepted the settings, but the device still reports " +
                           differs + ".");
    Record rec = basicInfoRecord(b);
    rec.push_back(text("written_back", kept));
    emit(s,
         macOf(s) + " accepted the settings" +
             (kept.empty() ? "" : "; written back as discovery reported them: " + kept) + ".",
         rec);
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
        throw UsageError(
            "ddns set: nothing to change; give --user, --domain or --ddns-password-file.");
    const std::optional<std::string> password =
        pwFile ? std::optional(readSecretFile(*pwFile)) : std::nullopt;
    checkWidth(user.value_or(""), wire::net_adv::kTextLen, "the dynamic-DNS user");
    checkWidth(domain.value_or(""), wire::net_adv::kTextLen, "the dynamic-DNS domain");
    checkWidth(password.value_or(""), wire::net_adv::kTextLen, "the dynamic-DNS password");
    // The device writes all three texts: start from what it has now.
    Ddns d = readDdns(s);
    const std::pair<const std::string *, const char *> readBack[] = {
        {user ? nullptr : &d.user, "the user with --user"},
        {password ? nullptr : &d.password, "the password with --ddns-password-file"},
        {domain ? nullptr : &d.domain, "the domain with --domain"}};
    for (const auto &[value, how] : readBack)
        if (value && mayBeCut(*value, wire::net_adv::kTextLen))
            throw UsageError(
                "a dynamic-DNS value of " + macOf(s) + " fills its " +
                std::to_string(wire::net_adv::kTextLen) +
                "-byte field, so it may have been cut, and tarn does not write back a value it "
                "may have read cut; give " +
                how + " (nothing was changed).");
    d.user = user.value_or(d.user);
    d.domain = domain.value_or(d.domain);
    d.password = password.value_or(d.password);
    d.enabled = true;
    expectResultZero(s.call(wire::OP_SET_NET_ADV, netAdvBody(d)), "the dynamic-DNS settings");
    const Ddns now = readDdns(s);
    std::vector<std::string> differs;
    if (!now.enabled)
        differs.push_back("dynamic DNS off");
    if (now.user != d.user)
        differs.push_back("user \"" + now.user + "\"");
    if (now.domain != d.domain)
        differs.push_back("domain \"" + now.domain + "\"");
    if (now.password != d.password)
        differs.push_back("another password");
    if (!differs.empty())
        throw RefusedError(macOf(s) +
                           " accepted the dynamic-DNS settings, but the device still reports " +
                           joined(differs) + ".");
    emit(s, macOf(s) + " accepted the dynamic-DNS settings and reports them back:",
         ddnsRecord(now, false));
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
    const bool yes = a.flag("--yes");
    a.finish();
    confirm(yes, "Reset " + deviceLabel(s.target()) + " to factory settings" +
                     (keepIp ? ", keeping its static IPv4 address?" : "?"));
    const uint16_t op = keepIp ? wire::OP_FACTORY_RESET_KEEP_IP : wire::OP_FACTORY_RESET;
    expectResultZero(s.start(op, {}, Session::kRestartPatience), "the factory reset");
    emit(s,
         macOf(s) + (keepIp ? " is resetting to factory settings, keeping its static IPv4 address."
                            : " is resetting to factory settings."),
         {boolean("keep_ip", keepIp), resultField(kAckResults, 0)});
    return kExitOk;
}

int cmdNetstatus(Session &s, Args &a) {
    a.finish();
    const NetStatus st = parseNetStatus(s.call(wire::OP_QUERY_NET_STATUS, {}).body);
    if (!st.reported)
        throw RefusedError(macOf(s) +
                           " reports no network status (its management interface is "
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
        throw UsageError(
            "time set: nothing to change; give --date, --timezone, --dst, --ntp or --no-ntp.");
    // The clock runs on from here: "now" is checked against the time since.
    const auto asked = Clock::now();
    const std::optional<std::string> stamp =
        date ? std::optional(stampOption(*date)) : std::nullopt;
    const std::optional<long> tz =
        zone ? std::optional(
                   parseInteger(*zone, "--timezone (hours from UTC)", kZoneWest, kZoneEast))
             : std::nullopt;
    if (ntp)
        checkWidth(*ntp, wire::datetime::kNtpServerLen, "the NTP server");
    // The device takes all fields at once: start from what it reports.
    DateTime d = readTime(s);
    if (!ntp && mayBeCut(d.ntpServer, wire::datetime::kNtpServerLen))
        throw UsageError(
            "the NTP server of " + macOf(s) + " fills the " +
            std::to_string(wire::datetime::kNtpServerLen) +
            "-byte field of its reply, so it may have been cut, and tarn does not write back "
            "a value it may have read cut; give it with --ntp SERVER (nothing was changed).");
    d.stamp = stamp.value_or(d.stamp);
    // The zone travels as a signed byte, two's complement.
    d.timeZone = tz ? static_cast<uint8_t>(static_cast<int8_t>(*tz)) : d.timeZone;
    d.daylightSaving = dst ? (*dst == "on" ? 1 : 0) : d.daylightSaving;
    if (ntp) {
        d.ntp = true;
        d.ntpServer = *ntp;
    }
    d.ntp = noNtp ? false : d.ntp;
    expectResultZero(s.call(wire::OP_SET_DATETIME, datetimeBody(d)), "the date and time");
    const DateTime now = readTime(s);
    std::vector<std::string> differs;
    if (stamp) {
        // Allow the time since the stamp was taken and a second's rounding.
        const long ran = wholeSecondsSince(asked);
        const std::optional<std::time_t> want = stampSeconds(*stamp), got = stampSeconds(now.stamp);
        if (!got || *got < *want - 1 || *got > *want + ran + 1)
            differs.push_back("date " + formatStamp(now.stamp));
    }
    if (now.timeZone != d.timeZone)
        differs.push_back("time zone " + std::to_string(static_cast<int8_t>(now.timeZone)));
    if (now.daylightSaving != d.daylightSaving)
        differs.push_back(std::string("daylight saving ") + (now.daylightSaving ? "on" : "off"));
    if (now.ntp != d.ntp)
        differs.push_back(now.ntp ? "NTP on" : "NTP off");
    else if (d.ntp && now.ntpServer != d.ntpServer)
        differs.push_back("NTP server \"" + now.ntpServer + "\"");
    if (!differs.empty())
        throw RefusedError(macOf(s) +
                           " accepted the date and time settings, but the device still reports " +
                           joined(differs) + ".");
    emit(s,
         macOf(s) + " accepted the date and time settings and reports them back:", timeRecord(now));
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
    emit(s,
         macOf(s) + " accepted management VLAN " + std::to_string(id) +
             "; the protocol has no request that reads it, so tarn cannot read it back.",
         {number("vlan", id), boolean("read_back", false)});
    return kExitOk;
}

namespace {

constexpr SecretSource kReadOnlySource{"read-only community", "--ro", "--ro-file", "TARN_SNMP_RO"};
constexpr SecretSource kReadWriteSource{"read-write community", "--rw", "--rw-file",
                                        "TARN_SNMP_RW"};

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
    emit(s,
         macOf(s) + " accepted SNMP " + state +
             " with the two communities; the protocol has no request that reads them, so tarn "
             "cannot read them back.",
         {boolean("enabled", state == "on"), boolean("read_back", false)});
    return kExitOk;
}

}  // namespace tarn
