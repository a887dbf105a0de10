#include "platform/com.h"

#include <windows.h>
#include <objbase.h>

namespace vantel::platform {

void ReleaseComObject(void* object) { static_cast<IUnknown*>(object)->Release(); }

int32_t ComInitialize() { return CoInitializeEx(nullptr, COINIT_MULTITHREADED); }

void ComUninitialize() { CoUninitialize(); }

}  // namespace vantel::platform
