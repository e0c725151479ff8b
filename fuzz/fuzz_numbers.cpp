// str2ll and str2ull on any text: never a crash, and a value reported
// without error is the one the text spells.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "dbxmldb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    errno = 0;
    const long long s = str2ll(text.c_str());
    const int sErr = errno;
    errno = 0;
    const unsigned long long u = str2ull(text.c_str());
    const int uErr = errno;
    // A malformed or out-of-range text gives 0 with errno set.
    if ((sErr != 0 && s != 0) || (uErr != 0 && u != 0))
        std::abort();
    return 0;
}
