// A stdio stream owned by its scope: closed however the scope is left.
#pragma once

#include <cstdio>
#include <memory>

struct FileClose {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileClose>;
