// Process-wide single instances, created on first use.
#pragma once

namespace vantel {

template <typename T>
class LL_singleton {
public:
    // Never destroyed: threads of the module may still use it while static objects go away.
    static T& Instance() {
        static T* const instance = new T;
        return *instance;
    }
};

}  // namespace vantel
