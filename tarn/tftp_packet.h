// TFTP packets (RFC 1350) with the option extension (RFC 2347) for the
// block size (RFC 2348): parsed from untrusted datagrams and encoded for the
// built-in server. Every field is read and written byte by byte in network
// order, so the code holds on any byte order and word size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarn::tftp {

enum class Opcode : uint16_t { Rrq = 1, Wrq = 2, Data = 3, Ack = 4, Error = 5, Oack = 6 };

enum class ErrorCode : uint16_t {
    NotDefined = 0,
    FileNotFound = 1,
    AccessViolation = 2,
    DiskFull = 3,
    IllegalOperation = 4,
    UnknownTransferId = 5,
    FileExists = 6,
    NoSuchUser = 7,
    OptionRefused = 8,
};

inline constexpr size_t kDefaultBlockSize = 512;
// RFC 2348 allows 8 to 65464; larger blocks than an Ethernet frame holds
// only fragment, so the server offers at most what fits one 1500-byte
// frame under IPv6's larger header as well as IPv4's.
inline constexpr size_t kMinBlockSize = 8;
inline constexpr size_t kMaxBlockSize = 1428;
inline constexpr size_t kHeaderLen = 4;
// The largest datagram the server reads: a request with its options, or a
// data packet of the largest block size a client could ask for.
inline constexpr size_t kMaxPacketLen = kHeaderLen + 65464;

// A read or write request. Options the server does not know are left out;
// only "octet" mode carries files unchanged, and the server refuses others.
struct Request {
    std::string file;
    std::string mode;                      // lower-cased
    std::optional<size_t> blockSize;       // asked for, already clamped to the server's range
    std::optional<uint64_t> transferSize;  // "tsize": a write's announced length
};

struct Packet {
    Opcode opcode = Opcode::Error;
    Request request;                          // Rrq, Wrq
    uint16_t block = 0;                       // Data, Ack
    std::span<const uint8_t> data;            // Data: points into the parsed datagram
    ErrorCode error = ErrorCode::NotDefined;  // Error
    std::string message;                      // Error
};

// Nothing when the datagram is not a well-formed packet.
std::optional<Packet> parsePacket(std::span<const uint8_t> datagram);

std::vector<uint8_t> encodeData(uint16_t block, std::span<const uint8_t> data);
std::vector<uint8_t> encodeAck(uint16_t block);
std::vector<uint8_t> encodeError(ErrorCode code, std::string_view message);
// Acknowledges the block size option (the only one the server takes up).
std::vector<uint8_t> encodeOack(size_t blockSize);

}  // namespace tarn::tftp
