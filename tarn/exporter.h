// tarn exporter: a long-running Prometheus exporter of the devices heard
// on the segment.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "args.h"
#include "session.h"

namespace httplib {
class Server;
}

namespace tarn {

// Where the exporter serves HTTP: "192.0.2.1:9472", "[2001:db8::1]:9472",
// or ":9472" for every address.
struct ListenAddress {
    std::string host;
    uint16_t port = 0;
};
ListenAddress parseListenAddress(const std::string &text);

// The HTTP server's workers and time-outs.
void configureServer(httplib::Server &server);

// Stops the HTTP server, also one that is not listening yet, whose stop()
// does nothing: asks again until `listenReturned` is set (for at most five
// seconds), so that a stop signal right after start is not lost.
void stopServer(httplib::Server &server, const std::atomic<bool> &listenReturned);

int cmdExporter(Session &s, Args &a);

}  // namespace tarn
