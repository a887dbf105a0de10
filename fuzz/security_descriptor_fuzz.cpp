// Security descriptors in their string form, as share records carry them: the descriptor is
// converted and its allowing entries written as permission text, whatever the text holds.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/text.h"
#include "monitors/share_security.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string text = vantel::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    vantel::GetShareSecurity(text);
    return 0;
}
