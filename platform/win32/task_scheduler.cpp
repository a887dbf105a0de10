#include "platform/task_scheduler.h"

#include <windows.h>
#include <mstask.h>

namespace vantel::platform {

namespace {

// The task scheduler's identifiers, here so that no import library is needed for them.
const GUID kClsidCTaskScheduler = {0x148BD52A, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
const GUID kIidITaskScheduler = {0x148BD527, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
const GUID kIidITask = {0x148BD524, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};

template <typename T>
T* As(const ComRef& pointer) {
    return static_cast<T*>(pointer.get());
}

// Copies a text the object handed out and frees it.
std::u16string Taken(LPWSTR text) {
    std::u16string copy = text ? reinterpret_cast<const char16_t*>(text) : u"";
    CoTaskMemFree(text);
    return copy;
}

int32_t TaskText(const ComRef& task, HRESULT (STDMETHODCALLTYPE ITask::*get)(LPWSTR*), std::u16string* text) {
    if (!task) return E_POINTER;
    LPWSTR raw = nullptr;
    HRESULT result = (As<ITask>(task)->*get)(&raw);
    if (SUCCEEDED(result)) *text = Taken(raw);
    return result;
}

}  // namespace

int32_t CreateTaskScheduler(ComRef* scheduler) {
    ITaskScheduler* raw = nullptr;
    HRESULT result = CoCreateInstance(kClsidCTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, kIidITaskScheduler,
                                      reinterpret_cast<void**>(&raw));
    if (SUCCEEDED(result)) *scheduler = ComRef(raw);
    return result;
}

int32_t TaskSchedulerEnum(const ComRef& scheduler, ComRef* workItems) {
    if (!scheduler) return E_POINTER;
    IEnumWorkItems* raw = nullptr;
    HRESULT result = As<ITaskScheduler>(scheduler)->Enum(&raw);
    if (raw) *workItems = ComRef(raw);
    return result;
}

int32_t EnumWorkItemsNext(const ComRef& workItems, uint32_t count, std::vector<std::u16string>* names) {
    names->clear();
    if (!workItems) return E_POINTER;
    LPWSTR* raw = nullptr;
    ULONG fetched = 0;
    HRESULT result = As<IEnumWorkItems>(workItems)->Next(count, &raw, &fetched);
    if (raw) {
        for (ULONG i = 0; i < fetched; ++i) names->push_back(Taken(raw[i]));
        CoTaskMemFree(raw);
    }
    return result;
}

int32_t TaskSchedulerActivate(const ComRef& scheduler, const std::u16string& name, ComRef* task) {
    if (!scheduler) return E_POINTER;
    IUnknown* raw = nullptr;
    HRESULT result =
        As<ITaskScheduler>(scheduler)->Activate(reinterpret_cast<LPCWSTR>(name.c_str()), kIidITask, &raw);
    if (SUCCEEDED(result) && raw) *task = ComRef(raw);
    return result;
}

int32_t TaskGetApplicationName(const ComRef& task, std::u16string* text) {
    return TaskText(task, &ITask::GetApplicationName, text);
}

int32_t TaskGetParameters(const ComRef& task, std::u16string* text) { return TaskText(task, &ITask::GetParameters, text); }

int32_t TaskGetCreator(const ComRef& task, std::u16string* text) { return TaskText(task, &ITask::GetCreator, text); }

}  // namespace vantel::platform
