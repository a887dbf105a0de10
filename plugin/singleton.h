// Process-wide single instances, created on first use.
#pragma once

namespace vantel {

template <typename T>
class LL_singleton {
public:
    static T& Instance() {
        static T instance;
        return instance;
    }
};

}  // namespace vantel
