// The settings store operations: the only layer that talks to lsqlquery.
//
// Reads copy the value (cut to the destination's capacity, always
// terminated) and always report 1; a missing value leaves the destination
// exactly as it was, so callers clear their buffers first. Writes return
// the library's result and print "Error occurred on set: %s\n" on failure.
#pragma once

#include <span>

int cfgGet(const char *section, const char *key, std::span<char> dst);
int cfgGetObj(const char *section, const char *object, const char *key, std::span<char> dst);
int cfgGetObjWhere(const char *section,
                   const char *object,
                   const char *key,
                   const char *qualKey,
                   const char *qualValue,
                   std::span<char> dst);

int cfgSet(const char *section, const char *key, const char *value);
int cfgSetObj(const char *section, const char *object, const char *key, const char *value);
int cfgSetObjWhere(const char *section,
                   const char *object,
                   const char *key,
                   const char *qualKey,
                   const char *qualValue,
                   const char *value);

// Trigger keys the device's configuration system acts on.
int cfgSaveStartup();          // ("config", "startup") := "running"
int cfgRequestReboot();        // ("system", "reboot") := "yes"
int cfgRequestFactoryReset();  // ("system", "factory-reset") := "yes"
