// The registry, in the shape of the Windows calls; results are Windows error codes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/errors.h"

namespace vantel::platform {

enum class RegRoot { LocalMachine, Users };

int32_t RegReadString(RegRoot root, const std::u16string& subkey, const std::u16string& value,
                      std::u16string* data);
int32_t RegReadDword(RegRoot root, const std::u16string& subkey, const std::u16string& value, uint32_t* data);
// Any value with its type as stored, read in the 64-bit view of the registry.
int32_t RegReadValue(RegRoot root, const std::u16string& subkey, const std::u16string& value, uint32_t* type,
                     std::vector<uint8_t>* data);
int32_t RegWriteDword(RegRoot root, const std::u16string& subkey, const std::u16string& value, uint32_t data);

}  // namespace vantel::platform
