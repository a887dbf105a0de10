// Binary contract shared by the module, the agent's host and the agent libraries.
#pragma once
#include <cstdint>
#include <cstring>

#if defined(_WIN32) && defined(__i386__)
#define VANTEL_CALL __stdcall
#else
#define VANTEL_CALL
#endif

namespace vantel {

// 16-bit wide text as it crosses the boundary.
#ifdef _WIN32
using WChar = wchar_t;
#else
using WChar = char16_t;
#endif
static_assert(sizeof(WChar) == 2, "wide text is UTF-16");

struct Guid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};
static_assert(sizeof(Guid) == 16, "identifiers are 16 raw bytes");

inline bool SameGuid(const Guid& a, const Guid& b) { return std::memcmp(&a, &b, sizeof(Guid)) == 0; }

using HResult = int32_t;
constexpr HResult kOk = 0;
constexpr HResult kNoInterface = static_cast<HResult>(0x80004002u);
constexpr HResult kNotImplemented = static_cast<HResult>(0x80004001u);
constexpr HResult kFail = static_cast<HResult>(0x80004005u);
constexpr HResult kInvalidPointer = static_cast<HResult>(0x80004003u);

inline constexpr Guid kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The first three operations of every reference-counted component interface.
struct IUnknownLike {
    virtual HResult VANTEL_CALL QueryInterface(const Guid& iid, void** object) = 0;
    virtual uint32_t VANTEL_CALL AddRef() = 0;
    virtual uint32_t VANTEL_CALL Release() = 0;

protected:
    ~IUnknownLike() = default;
};

}  // namespace vantel
