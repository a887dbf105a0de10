// The library's entry points; nothing may unwind into the caller.
#include <atomic>
#include <type_traits>

#include "agentlibs/quaymar/log_registry.h"
#include "common/text.h"
#include "vantel/companion_abi.h"

#ifdef _WIN32
#define QUAYMAR_EXPORT extern "C" __declspec(dllexport)
#else
#define QUAYMAR_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

constexpr int32_t kFailed = -1;

// Callers may still call in from their own static destructors at exit, after ours have run;
// the flag outlives every object.
std::atomic<bool> registryGone{false};

struct ProcessLogs {
    ~ProcessLogs() { registryGone = true; }
    quaymar::LogRegistry registry;
};

quaymar::LogRegistry& Registry() {
    static ProcessLogs logs;
    return logs.registry;
}

// Runs the call on the process's logs; nothing unwinds into the caller.
template <typename Result, typename Call>
Result WithLogs(Result fallback, Call&& call) noexcept {
    try {
        return registryGone ? fallback : call(Registry());
    } catch (...) {
        return fallback;
    }
}

}  // namespace

QUAYMAR_EXPORT int32_t VANTEL_CALL Init() {
    return WithLogs(kFailed, [](quaymar::LogRegistry& logs) { return logs.Init(); });
}

QUAYMAR_EXPORT int32_t VANTEL_CALL Uninit() {
    return WithLogs(kFailed, [](quaymar::LogRegistry& logs) { return logs.Uninit(); });
}

// The agent's number for the log plays no part here: files are named after their logs.
QUAYMAR_EXPORT uintptr_t VANTEL_CALL CreateLog(const vantel::WChar* name, uint32_t /*number*/) {
    return WithLogs(uintptr_t{0}, [&](quaymar::LogRegistry& logs) { return logs.Create(vantel::FromWide(name)); });
}

QUAYMAR_EXPORT int32_t VANTEL_CALL AddLog(uintptr_t log, int32_t level, const vantel::WChar* line) {
    if (line == nullptr) return kFailed;
    return WithLogs(kFailed, [&](quaymar::LogRegistry& logs) { return logs.Add(log, level, vantel::FromWide(line)); });
}

QUAYMAR_EXPORT int32_t VANTEL_CALL RemoveLog(uintptr_t log) {
    return WithLogs(kFailed, [&](quaymar::LogRegistry& logs) { return logs.Remove(log); });
}

// The declarations the callers bind to must match what is exported.
static_assert(std::is_same_v<decltype(&Init), vantel::LogInitFn>);
static_assert(std::is_same_v<decltype(&Uninit), vantel::LogUninitFn>);
static_assert(std::is_same_v<decltype(&CreateLog), vantel::CreateLogFn>);
static_assert(std::is_same_v<decltype(&AddLog), vantel::AddLogFn>);
static_assert(std::is_same_v<decltype(&RemoveLog), vantel::RemoveLogFn>);
