// The built-in TFTP server (RFC 1350, octet mode, with the block size
// option of RFC 2348): for one command it serves only the named files and
// receives only the expected names, and refuses everything else with a
// TFTP error. Debian packages no maintained C++ TFTP library, so this one is
// ours: one thread, a bounded number of transfers, each bounded in size and
// in the time it may stay silent.
#pragma once

#include <atomic>
#include <thread>

#include "serve_common.h"

namespace tarn {

class TftpServer {
public:
    // Binds at once (throws UsageError with the reason) and serves on its
    // own thread until stop() or destruction.
    explicit TftpServer(ServeConfig config);
    ~TftpServer();
    TftpServer(const TftpServer &) = delete;
    TftpServer &operator=(const TftpServer &) = delete;

    uint16_t port() const { return port_; }
    TransferEvents &events() { return events_; }
    // Ends every transfer (a partial upload is removed) and the thread.
    void stop();

private:
    void run();

    ServeConfig config_;
    int socket_ = -1;
    int wake_[2] = {-1, -1};  // a pipe that stop() writes to
    uint16_t port_ = 0;
    TransferEvents events_;
    std::thread thread_;
};

}  // namespace tarn
