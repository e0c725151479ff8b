#include "tftp_packet.h"

#include <algorithm>
#include <charconv>

namespace tarn::tftp {

namespace {

uint16_t loadU16(std::span<const uint8_t> in, size_t at) {
    return static_cast<uint16_t>(in[at] << 8 | in[at + 1]);
}

void appendU16(std::vector<uint8_t> &out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value & 0xFF));
}

void appendText(std::vector<uint8_t> &out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return out;
}

// Splits the NUL-terminated strings after the opcode; nothing when the last
// one is not terminated.
std::optional<std::vector<std::string_view>> terminatedTexts(std::span<const uint8_t> in) {
    std::vector<std::string_view> texts;
    const char *p = reinterpret_cast<const char *>(in.data());
    size_t start = 0;
    for (size_t i = 0; i < in.size(); i++) {
        if (in[i] != 0)
            continue;
        texts.emplace_back(p + start, i - start);
        start = i + 1;
    }
    if (start != in.size())
        return std::nullopt;
    return texts;
}

std::optional<uint64_t> decimal(std::string_view text) {
    uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

std::optional<Request> parseRequest(std::span<const uint8_t> in) {
    const std::optional<std::vector<std::string_view>> texts = terminatedTexts(in);
    // A file name, a mode, then option names and values in pairs.
    if (!texts || texts->size() < 2 || texts->size() % 2 != 0 || (*texts)[0].empty())
        return std::nullopt;
    Request r;
    r.file = std::string((*texts)[0]);
    r.mode = lowered((*texts)[1]);
    for (size_t i = 2; i < texts->size(); i += 2) {
        const std::string name = lowered((*texts)[i]);
        const std::optional<uint64_t> value = decimal((*texts)[i + 1]);
        // A repeated or unreadable option is ignored, as RFC 2347 lets a
        // server ignore any option.
        if (name == "blksize" && value && *value >= kMinBlockSize && !r.blockSize)
            r.blockSize = static_cast<size_t>(std::min<uint64_t>(*value, kMaxBlockSize));
        else if (name == "tsize" && value && !r.transferSize)
            r.transferSize = *value;
    }
    return r;
}

}  // namespace

std::optional<Packet> parsePacket(std::span<const uint8_t> datagram) {
    if (datagram.size() < 2 || datagram.size() > kMaxPacketLen)
        return std::nullopt;
    Packet p;
    const uint16_t opcode = loadU16(datagram, 0);
    const std::span<const uint8_t> rest = datagram.subspan(2);
    switch (opcode) {
    case static_cast<uint16_t>(Opcode::Rrq):
    case static_cast<uint16_t>(Opcode::Wrq): {
        std::optional<Request> r = parseRequest(rest);
        if (!r)
            return std::nullopt;
        p.request = std::move(*r);
        break;
    }
    case static_cast<uint16_t>(Opcode::Data):
    case static_cast<uint16_t>(Opcode::Ack):
        if (rest.size() < 2 || (opcode == static_cast<uint16_t>(Opcode::Ack) && rest.size() != 2))
            return std::nullopt;
        p.block = loadU16(rest, 0);
        p.data = rest.subspan(2);
        break;
    case static_cast<uint16_t>(Opcode::Error): {
        if (rest.size() < 3 || rest.back() != 0)
            return std::nullopt;
        p.error = static_cast<ErrorCode>(loadU16(rest, 0));
        const std::span<const uint8_t> text = rest.subspan(2, rest.size() - 3);
        p.message.assign(text.begin(), std::find(text.begin(), text.end(), uint8_t{0}));
        break;
    }
    default:
        // OACK is sent only by servers; anything else is unknown.
        return std::nullopt;
    }
    p.opcode = static_cast<Opcode>(opcode);
    return p;
}

std::vector<uint8_t> encodeData(uint16_t block, std::span<const uint8_t> data) {
    std::vector<uint8_t> out;
    out.reserve(kHeaderLen + data.size());
    appendU16(out, static_cast<uint16_t>(Opcode::Data));
    appendU16(out, block);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

std::vector<uint8_t> encodeAck(uint16_t block) {
    std::vector<uint8_t> out;
    appendU16(out, static_cast<uint16_t>(Opcode::Ack));
    appendU16(out, block);
    return out;
}

std::vector<uint8_t> encodeError(ErrorCode code, std::string_view message) {
    std::vector<uint8_t> out;
    appendU16(out, static_cast<uint16_t>(Opcode::Error));
    appendU16(out, static_cast<uint16_t>(code));
    appendText(out, message);
    return out;
}

std::vector<uint8_t> encodeOack(size_t blockSize) {
    std::vector<uint8_t> out;
    appendU16(out, static_cast<uint16_t>(Opcode::Oack));
    appendText(out, "blksize");
    appendText(out, std::to_string(blockSize));
    return out;
}

}  // namespace tarn::tftp
