// Message capture: in debug mode, received requests and replies are saved
// as files in the capture folder, but only on a separately mounted file
// system so that captures never fill the device's internal flash.
#pragma once

#include <cstdint>
#include <span>

enum class CaptureKind { Request, Reply };

void captureMessage(CaptureKind kind, std::span<const uint8_t> datagram, unsigned &counter);
bool captureFolderUsable(const char *path);
