// What a utility call refuses with: its usage error's text, or "accepted".
#pragma once

#include <string>

#include "errors.h"

template <typename Call>
std::string refusal(Call run) {
    try {
        run();
    } catch (const tarn::UsageError &e) {
        return e.what();
    }
    return "accepted";
}
