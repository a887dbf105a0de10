#include "platform/com.h"

#include "platform/sim/com_object.h"

namespace vantel::platform {

void ReleaseComObject(void* object) { delete static_cast<SimComObject*>(object); }

int32_t ComInitialize() { return 0; }

void ComUninitialize() {}

}  // namespace vantel::platform
