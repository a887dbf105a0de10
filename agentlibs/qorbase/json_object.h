// The JSON object: parses UTF-16 text and answers its values.
#pragma once
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "agentlibs/qorbase/com_object.h"
#include "agentlibs/qorbase/wrapper_arena.h"
#include "common/com_object.h"
#include "vantel/companion_abi.h"

namespace qorbase {

// Members keep the order they were written in, so a value's JSON text reads like its source.
using Json = nlohmann::ordered_json;

// Parse results besides 0.
constexpr int32_t kJsonNoText = -1;
constexpr int32_t kJsonMalformed = -2;
constexpr int32_t kJsonTooDeep = -3;
constexpr int32_t kJsonOutOfMemory = -4;

class JsonObject;

class JsonValue final : public vantel::IJsonValue {
public:
    JsonValue(const Json* value, JsonObject* owner) : value_(*value), owner_(*owner) {}

    int32_t VANTEL_CALL IsString() noexcept override;
    int32_t VANTEL_CALL IsArray() noexcept override;
    uint32_t VANTEL_CALL ArraySize() noexcept override;
    IJsonValue* VANTEL_CALL ArrayItem(uint32_t index, int32_t* error) noexcept override;
    const vantel::WChar* VANTEL_CALL StringValue(int32_t* error) noexcept override;
    int64_t VANTEL_CALL IntegerValue(int32_t* error) noexcept override;
    const vantel::WChar* VANTEL_CALL JsonText() noexcept override;

private:
    const Json& value_;
    JsonObject& owner_;
    // Made on first request; the value does not change until the owner parses again.
    std::optional<std::u16string> string_;
    std::optional<std::u16string> text_;
};

class JsonObject final : public vantel::ComObject<vantel::IJsonObject, vantel::kIidJsonObject> {
public:
    JsonObject() = default;

    int32_t VANTEL_CALL Parse(const vantel::WChar* text) noexcept override;
    vantel::IJsonValue* VANTEL_CALL Root() noexcept override;
    vantel::IJsonValue* VANTEL_CALL Member(const vantel::WChar* name, int32_t* error) noexcept override;

    JsonValue* Wrap(const Json& value);

private:
    void Clear();

    Json root_;
    bool parsed_ = false;
    WrapperArena<JsonValue, const Json> values_;
};

}  // namespace qorbase
