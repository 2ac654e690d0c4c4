// The error a call raises, as the program's error handlers see it.
#pragma once

#include <functional>
#include <string>

#include "core/error.h"

namespace quilo::test {

// The number of the RuntimeError that `f` raises (its description into `text` if given); 0 when
// it raises none.
inline long errorNumber(const std::function<void()>& f, std::string* text = nullptr) {
    try {
        f();
    } catch (const RuntimeError& e) {
        if (text) *text = e.description();
        return e.number();
    }
    return 0;
}

}  // namespace quilo::test
