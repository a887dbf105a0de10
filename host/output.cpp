#include "host/output.h"

#include <cstdio>
#include <string>

namespace qorexthost {

namespace {

std::recursive_mutex& OutputLock() {
    // Never destroyed: the module's threads may still write while the process ends.
    static auto* lock = new std::recursive_mutex;
    return *lock;
}

std::FILE* g_output = nullptr;  // standard output when null

}  // namespace

void WriteLinesTo(std::FILE* file) {
    std::lock_guard guard(OutputLock());
    g_output = file;
}

void WriteLine(const Json& line) {
    // Unpaired surrogates from the module become U+FFFD instead of failing the line.
    std::string text = line.dump(-1, ' ', false, Json::error_handler_t::replace);
    text += '\n';
    std::lock_guard guard(OutputLock());
    std::FILE* output = g_output ? g_output : stdout;
    std::fwrite(text.data(), 1, text.size(), output);
    std::fflush(output);
}

std::unique_lock<std::recursive_mutex> HoldOutput() { return std::unique_lock(OutputLock()); }

}  // namespace qorexthost
