// Nothing may unwind into the host or the system: every slot, export and callback runs its
// body through AtBoundary, which traces an escaping exception and returns the fixed result.
#pragma once
#include <exception>

#include "common/text.h"
#include "plugin/trace.h"

namespace vantel {

template <typename Result, typename Body>
Result AtBoundary(const char16_t* where, Result fallback, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::exception& error) {
        try {
            TraceError(u"%s failed: %s", where, FromUtf8(error.what()));
        } catch (...) {
        }
    } catch (...) {
        try {
            TraceError(u"%s failed", where);
        } catch (...) {
        }
    }
    return fallback;
}

template <typename Body>
void AtBoundary(const char16_t* where, Body&& body) noexcept {
    AtBoundary(where, 0, [&] {
        body();
        return 0;
    });
}

}  // namespace vantel
