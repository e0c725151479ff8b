#include "results.h"

namespace tarn {

std::string_view wordFor(std::span<const CodeWord> table, uint32_t code) {
    for (const CodeWord &c : table)
        if (c.code == code)
            return c.word;
    return "unknown";
}

Field resultField(std::span<const CodeWord> table, uint32_t code) {
    return coded("result", code, wordFor(table, code));
}

}  // namespace tarn
