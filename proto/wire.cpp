// Field-by-field encoding of the protocol. See wire.h for the rules.
#include "wire.h"

#include <algorithm>
#include <cstring>

namespace wire {

namespace {

bool fits(size_t size, size_t off, size_t width) {
    return off <= size && width <= size - off;
}

}  // namespace

uint8_t load_u8(ConstBytes buf, size_t off) {
    return off < buf.size() ? buf[off] : 0;
}

uint16_t load_le16(ConstBytes buf, size_t off) {
    return static_cast<uint16_t>(load_u8(buf, off) | (load_u8(buf, off + 1) << 8));
}

uint32_t load_le32(ConstBytes buf, size_t off) {
    return static_cast<uint32_t>(load_u8(buf, off)) |
           static_cast<uint32_t>(load_u8(buf, off + 1)) << 8 |
           static_cast<uint32_t>(load_u8(buf, off + 2)) << 16 |
           static_cast<uint32_t>(load_u8(buf, off + 3)) << 24;
}

void store_u8(Bytes buf, size_t off, uint8_t value) {
    if (fits(buf.size(), off, 1))
        buf[off] = value;
}

void store_le16(Bytes buf, size_t off, uint16_t value) {
    if (!fits(buf.size(), off, 2))
        return;
    buf[off] = static_cast<uint8_t>(value);
    buf[off + 1] = static_cast<uint8_t>(value >> 8);
}

void store_le32(Bytes buf, size_t off, uint32_t value) {
    if (!fits(buf.size(), off, 4))
        return;
    for (size_t i = 0; i < 4; i++)
        buf[off + i] = static_cast<uint8_t>(value >> (8 * i));
}

std::string_view load_text(ConstBytes buf, size_t off, size_t width) {
    if (off >= buf.size())
        return {};
    size_t avail = std::min(width, buf.size() - off);
    const auto *start = reinterpret_cast<const char *>(buf.data() + off);
    const void *nul = std::memchr(start, 0, avail);
    size_t len = nul ? static_cast<size_t>(static_cast<const char *>(nul) - start) : avail;
    return {start, len};
}

void load_cstr(ConstBytes buf, size_t off, size_t width, std::span<char> out) {
    if (out.empty())
        return;
    const std::string_view text = load_text(buf, off, std::min(width, out.size() - 1));
    std::copy_n(text.begin(), text.size(), out.begin());
    out[text.size()] = '\0';
}

void store_text(Bytes buf, size_t off, size_t width, std::string_view text) {
    Bytes f = field(buf, off, width);
    if (f.empty())
        return;
    size_t n = std::min(text.size(), width);
    // An empty view may carry a null pointer, which memcpy must never get.
    std::copy_n(text.begin(), n, f.begin());
    std::memset(f.data() + n, 0, width - n);
}

void load_bytes(ConstBytes buf, size_t off, Bytes dst) {
    for (size_t i = 0; i < dst.size(); i++)
        dst[i] = load_u8(buf, off + i);
}

void store_bytes(Bytes buf, size_t off, ConstBytes src) {
    Bytes f = field(buf, off, src.size());
    if (!f.empty())
        std::memcpy(f.data(), src.data(), src.size());
}

Bytes field(Bytes buf, size_t off, size_t width) {
    if (!fits(buf.size(), off, width))
        return {};
    return buf.subspan(off, width);
}

message_t decode_header(ConstBytes datagram) {
    message_t h{};
    h.uMsgType = load_le16(datagram, kOffMsgType);
    h.uMsgTag = load_le16(datagram, kOffMsgTag);
    h.uOP_Code = load_le16(datagram, kOffOpCode);
    load_bytes(datagram, kOffMac, h.ucMac);
    load_bytes(datagram, kOffIp, h.ucIp);
    h.uStatus = load_le16(datagram, kOffStatus);
    h.uRetFlag = load_le16(datagram, kOffRetFlag);
    h.uBodyLen = load_le16(datagram, kOffBodyLen);
    return h;
}

void encode_header(const message_t &hdr, Bytes out) {
    store_le16(out, kOffMsgType, hdr.uMsgType);
    store_le16(out, kOffMsgTag, hdr.uMsgTag);
    store_le16(out, kOffOpCode, hdr.uOP_Code);
    store_bytes(out, kOffMac, hdr.ucMac);
    store_bytes(out, kOffIp, hdr.ucIp);
    store_le16(out, kOffStatus, hdr.uStatus);
    store_le16(out, kOffRetFlag, hdr.uRetFlag);
    store_le16(out, kOffBodyLen, hdr.uBodyLen);
}

}  // namespace wire
