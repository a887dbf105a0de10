// What every object of the library shares: method bodies that never let an exception reach the
// caller, and the results they answer with.
#pragma once
#include "vantel/abi.h"

namespace qorbase {

constexpr vantel::HResult kOutOfMemory = static_cast<vantel::HResult>(0x8007000Eu);

template <typename Result, typename Body>
Result Guarded(Result fallback, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return fallback;
    }
}

}  // namespace qorbase
