// What a simulated component object is: each area's objects derive from this, so that one
// release serves them all.
#pragma once

namespace vantel::platform {

struct SimComObject {
    virtual ~SimComObject() = default;
};

}  // namespace vantel::platform
