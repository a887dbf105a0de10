#include "accounts/md4.h"

#include <vector>

namespace vantel {

namespace {

uint32_t Rotate(uint32_t x, int s) { return x << s | x >> (32 - s); }

void Transform(uint32_t state[4], const uint8_t block[64]) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = block[4 * i] | block[4 * i + 1] << 8 | block[4 * i + 2] << 16 | uint32_t{block[4 * i + 3]} << 24;
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    auto f = [](uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (~x & z); };
    auto g = [](uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (x & z) | (y & z); };
    auto h = [](uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; };
    // Each round rotates the roles of a, b, c and d over sixteen steps.
    static constexpr int kShifts[3][4] = {{3, 7, 11, 19}, {3, 5, 9, 13}, {3, 9, 11, 15}};
    static constexpr int kOrder2[16] = {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15};
    static constexpr int kOrder3[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
    for (int round = 0; round < 3; ++round) {
        for (int step = 0; step < 16; ++step) {
            int k = round == 0 ? step : round == 1 ? kOrder2[step] : kOrder3[step];
            uint32_t mix = round == 0   ? f(b, c, d)
                           : round == 1 ? g(b, c, d) + 0x5A827999u
                                        : h(b, c, d) + 0x6ED9EBA1u;
            uint32_t next = Rotate(a + mix + x[k], kShifts[round][step % 4]);
            a = d;
            d = c;
            c = b;
            b = next;
        }
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

}  // namespace

Md4Digest Md4(const void* data, size_t size) {
    uint32_t state[4] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u};
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t whole = size / 64 * 64;
    for (size_t offset = 0; offset < whole; offset += 64) Transform(state, bytes + offset);
    // The tail, a 0x80 byte, zeros to 56 mod 64, and the bit length little-endian.
    std::vector<uint8_t> tail(bytes + whole, bytes + size);
    tail.push_back(0x80);
    while (tail.size() % 64 != 56) tail.push_back(0);
    uint64_t bits = uint64_t{size} * 8;
    for (int i = 0; i < 8; ++i) tail.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    for (size_t offset = 0; offset < tail.size(); offset += 64) Transform(state, tail.data() + offset);
    Md4Digest digest;
    for (int i = 0; i < 16; ++i) digest[i] = static_cast<uint8_t>(state[i / 4] >> (8 * (i % 4)));
    return digest;
}

}  // namespace vantel
