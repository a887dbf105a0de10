// Server-pushed values through the command worker's extractions: the "Remove" fingerprint with
// its decoding, the "SaveDict" word list and the event-history request.
#include <cstddef>
#include <cstdint>
#include <string>

#include "accounts/certificate.h"
#include "agentlibs/qorbase/json_object.h"
#include "common/text.h"
#include "plugin/commands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string text = vantel::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    auto* json = new qorbase::JsonObject;
    if (std::optional<std::u16string> fingerprint = vantel::ExtractFingerprint(json, text))
        vantel::DecodeFingerprint(*fingerprint);
    vantel::ExtractFingerprint(nullptr, text);
    vantel::DecodeFingerprint(text);
    vantel::ExtractWordList(json, text);
    vantel::ParseHistoryRequest(json, text);
    json->Release();
    return 0;
}
