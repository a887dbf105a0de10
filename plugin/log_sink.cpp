#include "plugin/log_sink.h"

#include <atomic>

#include "common/text.h"
#include "platform/library.h"
#include "plugin/trace.h"
#include "vantel/companion_abi.h"

namespace vantel {

namespace {

class LogSinkBinding {
public:
    ~LogSinkBinding() {
        // Released with the module's static objects at unload.
        if (library_ == nullptr) return;
        if (--useCount_ == 0 && uninit_) uninit_();
        platform::FreeLibraryHandle(library_);
    }

    void Bind(const std::u16string& libraryPath, const std::u16string& logName, uint32_t number) {
        if (++useCount_ == 1) {
            addLog_.store(nullptr);
            resolvedAddLog_ = nullptr;
            init_ = nullptr;
            uninit_ = nullptr;
            createLog_ = nullptr;
            removeLog_ = nullptr;
            library_ = platform::LoadLibraryByPath(libraryPath);
            if (library_) {
                init_ = reinterpret_cast<LogInitFn>(platform::GetLibraryProcedure(library_, "Init"));
                uninit_ = reinterpret_cast<LogUninitFn>(platform::GetLibraryProcedure(library_, "Uninit"));
                createLog_ = reinterpret_cast<CreateLogFn>(platform::GetLibraryProcedure(library_, "CreateLog"));
                removeLog_ = reinterpret_cast<RemoveLogFn>(platform::GetLibraryProcedure(library_, "RemoveLog"));
                if (init_) init_();
                resolvedAddLog_ = reinterpret_cast<AddLogFn>(platform::GetLibraryProcedure(library_, "AddLog"));
            }
        }
        if (log_ == 0) log_ = createLog_ ? createLog_(ToWide(logName), number) : 0;
        addLog_.store(resolvedAddLog_, std::memory_order_release);
    }

    void Write(TraceLevel level, const std::u16string& line) {
        AddLogFn addLog = addLog_.load(std::memory_order_acquire);
        if (addLog) addLog(log_, static_cast<int32_t>(level), ToWide(line));
    }

private:
    platform::LibraryHandle library_ = nullptr;
    std::atomic<int32_t> useCount_{0};
    LogInitFn init_ = nullptr;
    LogUninitFn uninit_ = nullptr;
    CreateLogFn createLog_ = nullptr;
    AddLogFn resolvedAddLog_ = nullptr;
    std::atomic<AddLogFn> addLog_{nullptr};  // published after the log exists: traces read it without a lock
    RemoveLogFn removeLog_ = nullptr;        // resolved as the library offers it; the module never removes its log
    uintptr_t log_ = 0;
};

LogSinkBinding& Binding() {
    static LogSinkBinding binding;
    return binding;
}

}  // namespace

void BindLogSink(const std::u16string& libraryPath, const std::u16string& logName, uint32_t number) {
    Binding().Bind(libraryPath, logName, number);
}

int WriteTrace(TraceLevel level, const std::u16string& line) {
    Binding().Write(level, line);
    return 1;
}

}  // namespace vantel
