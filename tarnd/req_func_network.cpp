// Dynamic DNS, saving the configuration, the two factory resets and the
// short network status query.
#include "req_func_network.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string_view>

#include "cfg.h"
#include "dbxmldb.h"
#include "debug.h"
#include "reply.h"
#include "reserved_ip.h"
#include "stdio_file.h"
#include "sys.h"
#include "sys_net.h"

namespace {

constexpr std::string_view kManagementBridge = "brtrunk";
constexpr std::string_view kDdnsConnected = "Connected";
constexpr size_t kDbTextLen = 1024;
constexpr size_t kIfNameBufLen = 16;

// The device has no DDNS option setting: the byte travels in the format
// only, read as 0 and accepted without effect.
uint8_t ddnsGetOption() {
    return 0;
}
void ddnsSetOption(uint8_t) {}

// A database text into a wire field; a value that fills the field has no
// terminator there.
void storeDbText(wire::Bytes body, size_t off, const char *path) {
    char text[wire::net_adv::kTextLen + 1] = {};
    dbGetString(text, "%s", path);
    wire::store_text(body, off, wire::net_adv::kTextLen, {text, strnlen(text, sizeof text)});
}

void readStore(const char *section, const char *key, std::span<char, kIpv4TextLen> out) {
    std::memset(out.data(), 0, out.size());
    cfgGet(section, key, out);
}

const char *g_reservedIpSaveFile = kReservedIpFile;

// A static device keeps its address across the reset: start-up reads the
// values back from the file and removes it.
void saveReservedAddress() {
    char dhcp[kIpv4TextLen];
    readStore("management", "dhcp-status", dhcp);
    if (std::string_view(dhcp) != "down")
        return;
    File file = createRegularFile(g_reservedIpSaveFile, S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH);
    if (!file)
        return;  // nothing saved; the device comes back with factory settings
    char ip[kIpv4TextLen];
    char mask[kIpv4TextLen];
    char gateway[kIpv4TextLen];
    readStore("management", "static-ip", ip);
    readStore("management", "static-mask", mask);
    readStore("static-ip-route", "gateway", gateway);
    fprintf(file.get(), "%s,%s,%s,", ip, mask, gateway);
}

}  // namespace

void setReservedIpSaveFile(const char *path) {
    g_reservedIpSaveFile = path != nullptr ? path : kReservedIpFile;
}

unsigned funcGetNetAdvSettings(const wire::message_t *pMsg,
                               std::span<const uint8_t>,
                               std::span<uint8_t> pRetMsg) {
    namespace n = wire::net_adv;
    dbgPrint("FUNC:%s...\n", __func__);
    if (pMsg == nullptr)
        return 0;
    wire::Bytes body = replyBody(pRetMsg);
    if (dbGetU64("/system/ddns/enable") == 1)
        wire::store_u8(body, n::kDdnsEnable, n::kFlagBit);
    char status[kDbTextLen] = {};
    dbGetString(status, "/system/ddns/conn_status");
    if (std::string_view(status) == kDdnsConnected)
        wire::store_u8(body, n::kDdnsStatus, n::kFlagBit);
    wire::store_u8(body, n::kDdnsOption, ddnsGetOption());
    storeDbText(body, n::kDdnsUser, "/system/ddns/username");
    storeDbText(body, n::kDdnsPassword, "/system/ddns/password");
    storeDbText(body, n::kDdnsDomain, "/system/ddns/domain");
    wire::store_text(body, n::kExtra, n::kExtraWidth, {});
    wire::store_u8(body, n::kExtraLen, 0);  // the length of the empty text above
    return finishReply(*pMsg, pRetMsg, n::kBodyLen);
}

unsigned funcSetNetAdvSettings(const wire::message_t *pMsg,
                               std::span<const uint8_t> body,
                               std::span<uint8_t> pRetMsg) {
    namespace n = wire::net_adv;
    dbgPrint("FUNC:%s...\n", __func__);
    if (pMsg == nullptr)
        return 0;
    dbgPrint("bodylen=%u\n", static_cast<unsigned>(pMsg->uBodyLen));
    dbgPrint("%u, %u\n", static_cast<unsigned>(wire::load_u8(body, n::kDdnsStatus)),
             static_cast<unsigned>(wire::load_u8(body, n::kDdnsEnable)));
    // Setting the account switches dynamic DNS on, whatever the enable byte says.
    dbSetU64(1, "/system/ddns/enable");
    const uint8_t option = wire::load_u8(body, n::kDdnsOption);
    if (option != n::kOptionUnchanged)
        ddnsSetOption(option);
    // Each field as a terminated C text for the database layer.
    char text[n::kTextLen + 1];
    wire::load_cstr(body, n::kDdnsUser, n::kTextLen, text);
    dbSetString(text, "/system/ddns/username");
    wire::load_cstr(body, n::kDdnsPassword, n::kTextLen, text);
    dbSetString(text, "/system/ddns/password");
    wire::load_cstr(body, n::kDdnsDomain, n::kTextLen, text);
    dbSetString(text, "/system/ddns/domain");
    return finishResultReply(*pMsg, pRetMsg, 0);
}

// The address is saved in both calls, so the file is freshly written right
// before the reset is requested.
unsigned funcFactoryResetWithoutIP(const wire::message_t *pMsg,
                                   std::span<const uint8_t>,
                                   std::span<uint8_t> pRetMsg) {
    saveReservedAddress();
    dbgPrint("FUNC:%s...\n", __func__);
    if (pMsg == nullptr) {
        cfgRequestFactoryReset();
        return 0;
    }
    return finishResultReply(*pMsg, pRetMsg, 0);
}

unsigned funcFactoryReset(const wire::message_t *pMsg,
                          std::span<const uint8_t>,
                          std::span<uint8_t> pRetMsg) {
    dbgPrint("FUNC:%s...\n", __func__);
    if (pMsg == nullptr) {
        cfgRequestFactoryReset();  // only once the reply has left
        return 0;
    }
    return finishResultReply(*pMsg, pRetMsg, 0);
}

unsigned funcCommitSettings(const wire::message_t *pMsg,
                            std::span<const uint8_t>,
                            std::span<uint8_t> pRetMsg) {
    dbgPrint("FUNC:%s...\n", __func__);
    if (pMsg == nullptr)
        return 0;
    cfgSaveStartup();  // the reply says 0 whatever the store answered
    return finishResultReply(*pMsg, pRetMsg, 0);
}

unsigned funcQueryNetStatus(const wire::message_t *pMsg,
                            std::span<const uint8_t>,
                            std::span<uint8_t> pRetMsg) {
    namespace s = wire::net_status;
    dbgPrint("FUNC:%s...\n", __func__);
    if (pMsg == nullptr)
        return 0;
    const int count = sysGetIfCount();
    for (int i = 0; i < count; ++i) {
        char name[kIfNameBufLen] = {};
        sysGetIfName(i, name);
        if (std::string_view(name, strnlen(name, sizeof name)) != kManagementBridge)
            continue;
        wire::Bytes body = replyBody(pRetMsg);
        wire::store_le32(body, s::kLinkLocal, static_cast<uint32_t>(sysIsLinkLocalIp(i)));
        sysGetLanIp(i, wire::field(body, s::kCurIp, 4));
        return finishReply(*pMsg, pRetMsg, s::kBodyLen);
    }
    // Not the device's management bridge: the header alone.
    return finishReply(*pMsg, pRetMsg, 0);
}
