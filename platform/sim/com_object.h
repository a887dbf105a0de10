// What a simulated component object is: each area keeps its kinds of object in one of these, so
// that one release serves them all.
#pragma once
#include <utility>
#include <variant>

#include "platform/com.h"

namespace vantel::platform {

struct SimComObject {
    virtual ~SimComObject() = default;
};

// An object of one area, holding one of its kinds.
template <typename... Kinds>
struct SimComObjectOf final : SimComObject {
    explicit SimComObjectOf(std::variant<Kinds...> kind) : value(std::move(kind)) {}
    std::variant<Kinds...> value;
};

// The object behind a reference, when it is of that area and kind; null otherwise.
template <typename Kind, typename Object>
Kind* SimComAs(const ComRef& reference) {
    auto* object = dynamic_cast<Object*>(static_cast<SimComObject*>(reference.get()));
    return object ? std::get_if<Kind>(&object->value) : nullptr;
}

template <typename Object, typename Kind>
ComRef SimComMake(Kind kind) {
    return ComRef(static_cast<SimComObject*>(new Object(std::move(kind))));
}

}  // namespace vantel::platform
