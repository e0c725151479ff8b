// Basic settings in one request, the user check and the password change.
// All three run only after the credential check has passed.
#include "req_func_account.h"

#include <array>
#include <cstring>
#include <string_view>

#include "auth.h"
#include "daemon_state.h"
#include "debug.h"
#include "reply.h"
#include "sys.h"
#include "sys_cmd.h"
#include "sys_net.h"

namespace {

constexpr std::string_view kAdminName = "admin";
constexpr const char *kDefaultEscapeSet = "$\"`\\";
constexpr size_t kDecodedLen = 1024;
constexpr size_t kEscapeBufLen = 4096;
constexpr size_t kEscapeRing = 4;

// A decoded text buffer up to its first NUL, never past the buffer.
std::string_view cText(std::span<const char> text) {
    return {text.data(), strnlen(text.data(), text.size())};
}

void applyStaticAddress(int idx, std::span<const uint8_t> body) {
    namespace b = wire::basic_info;
    sysSetStaticIp(idx, wire::load_array<4>(body, b::kIp));
    sysSetStaticMask(idx, wire::load_array<4>(body, b::kMask));
    sysSetStaticGateway(idx, wire::load_array<4>(body, b::kGateway));
}

void applyDns(std::span<const uint8_t> body) {
    namespace b = wire::basic_info;
    if (wire::load_u8(body, b::kStaticDns) == 0) {
        sysSetDnsViaDhcp(0);
        return;
    }
    sysSetStaticDns1(wire::load_array<4>(body, b::kDns1));
    sysSetStaticDns2(wire::load_array<4>(body, b::kDns2));
    sysSetDnsViaDhcp(1);
}

// The request's IPv6 gateway is not applied: a static setup stores an empty
// gateway, the all-zero address.
void applyIpv6(int idx, std::span<const uint8_t> body) {
    namespace b = wire::basic_info;
    if (wire::load_u8(body, b::kIpv6Auto) != 0) {
        sysSetIpv6Autoconfig(idx, 1);
        return;
    }
    sysSetIpv6Autoconfig(idx, 2);
    if (sysSetIpv6Addr(idx, wire::load_array<16>(body, b::kIpv6)) != 0)
        return;  // the unspecified address is refused; the rest would be meaningless
    sysSetIpv6PrefixLen(idx, wire::load_u8(body, b::kIpv6Prefix));
    const std::array<uint8_t, 16> noGateway{};
    sysSetIpv6Gateway(idx, noGateway);
}

uint32_t changeAdminPassword(std::span<const uint8_t> body) {
    namespace c = wire::change_admin;
    char user[kDecodedLen];
    char password[kDecodedLen];
    base64Decode(user, wire::load_text(body, c::kUser, c::kFieldLen));
    base64Decode(password, wire::load_text(body, c::kPassword, c::kFieldLen));
    if (cText(user) != kAdminName)
        return c::kResultNotAdmin;
    if (cText(password).find_first_of(c::kForbiddenPasswordChars) != std::string_view::npos)
        return c::kResultBadChar;
    // The tool's exit status is not reported: it applies the change itself.
    // The new password never appears in the command trace; the user is
    // "admin" here.
    sysRunSecretCommand("submit SET_PASSWD 'admin' '********'", "submit SET_PASSWD '%s' '%s'", user,
                        strEscapeShell(password));
    return 0;
}

}  // namespace

const char *strEscapeShell(const char *text, const char *set) {
    static char ring[kEscapeRing][kEscapeBufLen];
    static size_t next = 0;
    char *out = ring[next];
    next = (next + 1) % kEscapeRing;
    const std::string_view escaped = set != nullptr ? set : kDefaultEscapeSet;
    size_t len = 0;
    for (const char *p = text != nullptr ? text : ""; *p != '\0'; ++p) {
        const bool escape = escaped.find(*p) != std::string_view::npos;
        // Cut before a character that would not fit whole with the
        // terminator, so a backslash is never left without its character.
        if (len + (escape ? 2 : 1) >= kEscapeBufLen)
            break;
        if (escape)
            out[len++] = '\\';
        out[len++] = *p;
    }
    out[len] = '\0';
    return out;
}

unsigned funcSetBasicInfo(const wire::message_t *pMsg,
                          std::span<const uint8_t> body,
                          std::span<uint8_t> pRetMsg) {
    namespace b = wire::basic_info;
    dbgPrint("FUNC:%s...\n", __func__);
    if (pMsg == nullptr)
        return 0;
    const int idx = g_curIfIndex;
    // Applied unchecked and in this order; a failed write is printed by the
    // store layer and the next setting still goes in.
    sysSetSystemName(wire::load_text(body, b::kSystemName, b::kSystemNameLen));
    const uint8_t dhcp = wire::load_u8(body, b::kDhcp);
    sysSetDhcpStatus(idx, dhcp);
    if (dhcp == 0)
        applyStaticAddress(idx, body);
    applyDns(body);
    applyIpv6(idx, body);
    return finishResultReply(*pMsg, pRetMsg, 0);
}

unsigned funcUserVerify(const wire::message_t *pMsg,
                        std::span<const uint8_t>,
                        std::span<uint8_t> pRetMsg) {
    namespace u = wire::user_verify;
    dbgPrint("FUNC:%s...\n", __func__);
    if (pMsg == nullptr)
        return 0;
    const bool admin = cText(g_currentUser) == kAdminName;
    wire::store_le32(replyBody(pRetMsg), 0, admin ? u::kAdmin : u::kNotAdmin);
    return finishReply(*pMsg, pRetMsg, u::kBodyLen);
}

unsigned funcChangeAdmin(const wire::message_t *pMsg,
                         std::span<const uint8_t> body,
                         std::span<uint8_t> pRetMsg) {
    dbgPrint("FUNC:%s...\n", __func__);
    if (pMsg == nullptr)
        return 0;
    return finishResultReply(*pMsg, pRetMsg, changeAdminPassword(body));
}
