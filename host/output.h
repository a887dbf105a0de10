// The host's standard output: one JSON object per line, from any thread.
#pragma once
#include <cstdio>
#include <mutex>

#include <nlohmann/json.hpp>

namespace qorexthost {

// Ordered, so that fields leave in the order the module wrote them.
using Json = nlohmann::ordered_json;

// Writes one line to standard output, or where WriteLinesTo points; lines of different threads
// never interleave.
void WriteLine(const Json& line);
void WriteLinesTo(std::FILE* file);

// Keeps other threads' lines back while held, so that a line the holder writes afterwards comes
// before the lines its call caused (a message line before the reply to it).
std::unique_lock<std::recursive_mutex> HoldOutput();

}  // namespace qorexthost
