// tarn exporter: a long-running Prometheus exporter of the devices heard
// on the segment.
#pragma once

#include <cstdint>
#include <string>

#include "args.h"
#include "session.h"

namespace tarn {

// Where the exporter serves HTTP: "192.0.2.1:9472", "[2001:db8::1]:9472",
// or ":9472" for every address.
struct ListenAddress {
    std::string host;
    uint16_t port = 0;
};
ListenAddress parseListenAddress(const std::string &text);

int cmdExporter(Session &s, Args &a);

}  // namespace tarn
