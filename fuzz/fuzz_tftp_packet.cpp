// The built-in TFTP server's packet parser on any datagram: it never reads
// outside the datagram, a parsed request keeps the server's block size
// range, and data, acknowledgements and errors encode back to what was read.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "tftp_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace tarn::tftp;
    const std::span<const uint8_t> datagram(data, size);
    const std::optional<Packet> p = parsePacket(datagram);
    if (!p)
        return 0;
    std::vector<uint8_t> again;
    switch (p->opcode) {
    case Opcode::Rrq:
    case Opcode::Wrq:
        if (p->request.file.empty() ||
            (p->request.blockSize &&
             (*p->request.blockSize < kMinBlockSize || *p->request.blockSize > kMaxBlockSize)))
            std::abort();
        return 0;
    case Opcode::Data:
        if (p->data.data() != data + kHeaderLen || p->data.size() != size - kHeaderLen)
            std::abort();
        again = encodeData(p->block, p->data);
        break;
    case Opcode::Ack:
        again = encodeAck(p->block);
        break;
    case Opcode::Error:
        // The message ends at its first NUL; what follows is not kept.
        again = encodeError(p->error, p->message);
        if (!std::equal(again.begin(), again.end(), data))
            std::abort();
        return 0;
    case Opcode::Oack:
        std::abort();  // only servers send it
    }
    if (!std::equal(again.begin(), again.end(), data, data + size))
        std::abort();
    return 0;
}
