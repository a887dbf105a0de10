// Diagnostic trace lines, written to the agent's log library at level 1 (failures) or 0.
#pragma once
#include <string>

#include "common/format.h"

namespace vantel {

enum class TraceLevel : int32_t { Info = 0, Error = 1 };

// Hands one line to the bound log; a module without a log drops it. Always returns 1.
int WriteTrace(TraceLevel level, const std::u16string& line);

template <typename... Args>
int TraceError(const char16_t* format, const Args&... args) {
    return WriteTrace(TraceLevel::Error, Format(format, args...) + u'\n');
}
inline int TraceErrorText(const std::u16string& text) { return WriteTrace(TraceLevel::Error, text); }

template <typename... Args>
int TraceInfo(const char16_t* format, const Args&... args) {
    return WriteTrace(TraceLevel::Info, Format(format, args...) + u'\n');
}
inline int TraceInfoText(const std::u16string& text) { return WriteTrace(TraceLevel::Info, text); }

}  // namespace vantel
