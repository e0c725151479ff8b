// tarn check: a monitoring-plugin check of one device, in the manner of
// Nagios, Icinga and their kin: one status line with performance data and
// the exit status 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "args.h"
#include "session.h"

namespace tarn {

enum PluginStatus : int {
    kPluginOk = 0,
    kPluginWarning = 1,
    kPluginCritical = 2,
    kPluginUnknown = 3
};

struct CheckInput {
    std::optional<Found> found;           // the device's discovery reply, if it answered
    std::string silence;                  // why it did not: the no-reply sentence
    std::optional<double> lastAnswerAge;  // seconds since an earlier check saw it answer
    double maxAge = 90;
    std::optional<std::string> firmware;  // the firmware version it should run
    std::string unsaved;                  // why its answer could not be recorded, if it could not
};

struct CheckResult {
    PluginStatus status;
    std::string line;  // "TARN OK - ... | perfdata"
};

CheckResult evaluateCheck(const CheckInput &in);

int cmdCheck(Session &s, Args &a);
// Prints the plugin's UNKNOWN line; returns its exit status.
int printCheckUnknown(std::string_view reason);

}  // namespace tarn
