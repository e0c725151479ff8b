// The built-in HTTP server, for devices that download by HTTP: it serves
// only the named files (GET and HEAD of "/NAME") and answers everything else
// with 404, for the duration of one command. cpp-httplib does the HTTP.
#pragma once

#include <memory>

#include "serve_common.h"

namespace tarn {

class HttpServer {
public:
    // Binds at once (throws UsageError with the reason) and serves on its
    // own threads until stop() or destruction. Uploads are not taken.
    explicit HttpServer(ServeConfig config);
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    uint16_t port() const;
    void stop();

    // cpp-httplib's classes carry time_t, which this header keeps out of the
    // rest of tarn (see the library's build notes for 32-bit targets).
    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace tarn
