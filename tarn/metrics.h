// The exporter's metrics in Prometheus's text exposition format (0.0.4).
// Rendering is separate from the server so tests check the exact text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "inventory.h"

namespace tarn {

struct ExporterStats {
    uint64_t announcements = 0;     // announcements received
    uint64_t ignoredDatagrams = 0;  // other datagrams on the announcement port
    uint64_t receiveErrors = 0;
    uint64_t discoveries = 0;        // discoveries run
    uint64_t discoveryFailures = 0;  // discoveries that could not be sent
    std::optional<WallClock::time_point> lastDiscovery;
    double lostAfterSeconds = 0;
    double discoveryIntervalSeconds = 0;
};

// The exporter process itself, read from /proc.
struct ProcessStats {
    double cpuSeconds = 0;
    uint64_t residentBytes = 0;
    uint64_t openFds = 0;
    double startTime = 0;  // Unix seconds
};

ProcessStats readProcessStats();

// A label value: valid UTF-8 with backslash, double quote and line feed
// escaped, as the format requires; device names are arbitrary bytes.
std::string labelValue(std::string_view s);

std::string renderMetrics(const Inventory &inventory,
                          const ExporterStats &stats,
                          const ProcessStats &process);

}  // namespace tarn
