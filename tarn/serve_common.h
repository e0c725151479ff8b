// What the built-in file servers share: what they serve and receive, and
// the TFTP server's transfer events, by which a command waits for "file
// received" instead of sleeping. A server lives for the duration of one command, bound to the
// address of the interface that faces the devices.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tarn {

inline constexpr uint16_t kTftpPort = 69;
inline constexpr uint16_t kHttpPort = 80;

struct ServedFile {
    std::string name;                            // exactly as the client asks for it
    std::shared_ptr<const std::string> content;  // read once, shared by both servers
};

struct ServeConfig {
    std::string address;                    // an IPv4 or IPv6 address of this host
    uint16_t port = 0;                      // 0: any free port (tests)
    std::vector<ServedFile> files;          // offered for reading, nothing else
    std::filesystem::path receiveDir;       // TFTP writes land here...
    std::vector<std::string> receiveNames;  // ...under these names only
    // When set, only this address may send a file (the device's own): a
    // stranger's upload is refused before anything is written or reported.
    std::string sender;
    uint64_t maxFileSize = 64 << 20;
    // A TFTP packet is sent again after this long without an answer, and
    // the transfer fails after `retries` such tries.
    std::chrono::milliseconds retransmit{1000};
    int retries = 5;
};

enum class TransferState { Started, Complete, Failed };

struct TransferEvent {
    TransferState state = TransferState::Failed;
    std::string file;  // the name the client asked for
    std::string peer;  // the client's address
    bool upload = false;
    uint64_t bytes = 0;
    std::string reason;  // Failed: a sentence that says why
};

// A bounded queue of events from a server's thread to the command's.
class TransferEvents {
public:
    void post(TransferEvent event);
    // The oldest event not yet taken; nothing when none came by the deadline.
    std::optional<TransferEvent> next(std::chrono::steady_clock::time_point deadline);

private:
    static constexpr size_t kMaxQueued = 1024;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<TransferEvent> queue_;
};

// Opens a socket of `type` (SOCK_DGRAM, SOCK_STREAM) bound to address:port,
// or throws a UsageError that says why not in words: the port is taken, a
// port below 1024 needs root or CAP_NET_BIND_SERVICE, the address is not
// this host's. `protocol` names the server in that sentence.
int bindServerSocket(int type, const std::string &address, uint16_t port, const char *protocol);

// The port a bound socket got.
uint16_t boundPort(int fd);

// "192.0.2.1" or "2001:db8::1" from a socket address.
std::string peerText(const void *sockaddr);

}  // namespace tarn
