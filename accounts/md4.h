// The MD4 message digest (RFC 1320).
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

namespace vantel {

using Md4Digest = std::array<uint8_t, 16>;

Md4Digest Md4(const void* data, size_t size);

}  // namespace vantel
