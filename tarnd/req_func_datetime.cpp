// Date, time zone, daylight saving and NTP. The report comes from the
// device's clock and the "ntp" settings; a set request is acknowledged and
// echoed on standard output, but the device keeps none of it.
#include "req_func_datetime.h"

#include <cstdio>
#include <string_view>

#include "debug.h"
#include "reply.h"
#include "sys_clock.h"

namespace {

namespace dt = wire::datetime;

void storeNtpServer(wire::Bytes body) {
    char server[dt::kNtpServerLen + 1] = {};
    sysGetNtpServer(server);
    wire::store_text(body, dt::kNtpServer, dt::kNtpServerLen, std::string_view(server));
}

// The request as the device received it. Text fields are printed to at most
// their width: a field without a terminator is not read past its end.
void printSetRequest(std::span<const uint8_t> body) {
    std::string_view date = wire::load_text(body, dt::kDatetime, dt::kDatetimeLen);
    printf("DateTime = %.*s, ", static_cast<int>(date.size()), date.data());
    for (size_t i = 0; i < dt::kDatetimeLen; ++i)
        printf("%x, ", static_cast<unsigned>(wire::load_u8(body, dt::kDatetime + i)));
    printf("\n");
    const uint8_t zone = wire::load_u8(body, dt::kTimeZone);
    if (zone != 0)
        printf("Time-zone = %x(Hex), %d(DEC)\n", static_cast<unsigned>(zone),
               static_cast<int>(zone));
    printf("DaylightSaving = %x\n",
           static_cast<unsigned>(wire::load_u8(body, dt::kDaylightSaving)));
    printf("NTP = %x\n", static_cast<unsigned>(wire::load_u8(body, dt::kNtp)));
    std::string_view server = wire::load_text(body, dt::kNtpServer, dt::kNtpServerLen);
    printf("NTP_Server = %.*s\n", static_cast<int>(server.size()), server.data());
    fflush(stdout);
}

}  // namespace

unsigned funcGetDateTime(const wire::message_t *pMsg,
                         std::span<const uint8_t>,
                         std::span<uint8_t> pRetMsg) {
    dbgPrint("FUNC:%s...\n", __func__);
    if (pMsg == nullptr)
        return 0;
    wire::Bytes body = replyBody(pRetMsg);
    sysGetDatetimeField(wire::field(body, dt::kDatetime, dt::kDatetimeLen));  // zero on failure
    wire::store_u8(body, dt::kTimeZone, 0);
    wire::store_u8(body, dt::kReserved, 0);
    wire::store_u8(body, dt::kDaylightSaving, sysGetDaylightSaving());
    const uint8_t ntp = sysGetNtpStatus();
    wire::store_u8(body, dt::kNtp, ntp);
    if (ntp == 1)
        storeNtpServer(body);
    else
        wire::store_text(body, dt::kNtpServer, dt::kNtpServerLen, {});
    return finishReply(*pMsg, pRetMsg, dt::kGetBodyLen);
}

unsigned funcSetDateTime(const wire::message_t *pMsg,
                         std::span<const uint8_t> body,
                         std::span<uint8_t> pRetMsg) {
    dbgPrint("FUNC:%s...\n", __func__);
    if (pMsg == nullptr)
        return 0;
    printSetRequest(body);
    return finishResultReply(*pMsg, pRetMsg, 0);
}
