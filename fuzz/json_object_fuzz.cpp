// Arbitrary text through the JSON object, then every value it answers.
#include <cstddef>
#include <cstdint>
#include <string>

#include "agentlibs/qorbase/json_object.h"
#include "common/text.h"

namespace {

void Walk(vantel::IJsonValue* value, int depth) {
    if (value == nullptr || depth > 300) return;
    int32_t error = 0;
    value->IsString();
    value->StringValue(&error);
    value->IntegerValue(&error);
    value->JsonText();
    if (value->IsArray() == 0) return;
    uint32_t size = value->ArraySize();
    for (uint32_t i = 0; i <= size; ++i) Walk(value->ArrayItem(i, &error), depth + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string text = vantel::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    auto* json = new qorbase::JsonObject;
    // The second pass reuses the object, as callers do.
    for (int pass = 0; pass < 2; ++pass) {
        json->Parse(vantel::ToWide(text));
        Walk(json->Root(), 0);
        for (const char16_t* name : {u"", u"a", u"data", u"name", u"value"}) {
            int32_t error = 0;
            Walk(json->Member(vantel::ToWide(name), &error), 0);
        }
    }
    json->Release();
    return 0;
}
