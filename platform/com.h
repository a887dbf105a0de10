// The component runtime, in the shape of the Windows calls; results are HRESULTs (negative on
// failure).
#pragma once
#include <cstdint>

#include "platform/handle.h"

namespace vantel::platform {

void ReleaseComObject(void* object);
// One reference to a component object.
using ComRef = UniqueHandle<ReleaseComObject>;

// CoInitializeEx in the multi-threaded model, and CoUninitialize.
int32_t ComInitialize();
void ComUninitialize();

// COM initialised on the calling thread for the object's life, when it could be.
class ComApartment {
public:
    ComApartment() : result_(ComInitialize()) {}
    ~ComApartment() {
        if (result_ >= 0) ComUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    int32_t result() const { return result_; }

private:
    int32_t result_;
};

}  // namespace vantel::platform
