// Reboot on request. The trigger is written only after the reply has left,
// so the utility always hears the answer before the device goes down.
#include "req_func_reboot.h"

#include "cfg.h"
#include "debug.h"
#include "reply.h"

unsigned funcReboot(const wire::message_t *pMsg,
                    std::span<const uint8_t>,
                    std::span<uint8_t> pRetMsg) {
    dbgPrint("FUNC:%s...\n", __func__);
    if (pMsg == nullptr) {
        cfgRequestReboot();
        return 0;
    }
    return finishResultReply(*pMsg, pRetMsg, 0);  // 16 zero bytes
}
