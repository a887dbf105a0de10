#include "plugin/log_sink.h"

#include <atomic>
#include <thread>

#include "common/text.h"
#include "platform/library.h"
#include "plugin/trace.h"
#include "vantel/companion_abi.h"

namespace vantel {

namespace {

class LogSinkBinding {
public:
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
        addLog_.store(resolvedAddLog_);
    }

    void Release() {
        // The library goes with the last binding that holds it.
        if (useCount_ == 0 || --useCount_ != 0) return;
        // No new trace reaches the library; the ones already on their way finish first.
        addLog_.store(nullptr);
        while (writers_.load() != 0) std::this_thread::yield();
        if (uninit_) uninit_();
        platform::FreeLibraryHandle(library_);
        library_ = nullptr;
        log_ = 0;
    }

    void Write(TraceLevel level, const std::u16string& line) {
        // Counted before the entry point is read, so that Release sees every writer that got one.
        ++writers_;
        if (AddLogFn addLog = addLog_.load()) addLog(log_, static_cast<int32_t>(level), ToWide(line));
        --writers_;
    }

private:
    platform::LibraryHandle library_ = nullptr;
    std::atomic<int32_t> useCount_{0};
    LogInitFn init_ = nullptr;
    LogUninitFn uninit_ = nullptr;
    CreateLogFn createLog_ = nullptr;
    AddLogFn resolvedAddLog_ = nullptr;
    std::atomic<AddLogFn> addLog_{nullptr};  // published after the log exists: traces read it without a lock
    std::atomic<int32_t> writers_{0};        // traces between reading addLog_ and returning from it
    RemoveLogFn removeLog_ = nullptr;        // resolved as the library offers it; the module never removes its log
    uintptr_t log_ = 0;
};

LogSinkBinding& Binding() {
    // Never destroyed: unloading the module must not free the library under the loader lock.
    static LogSinkBinding* const binding = new LogSinkBinding;
    return *binding;
}

}  // namespace

void BindLogSink(const std::u16string& libraryPath, const std::u16string& logName, uint32_t number) {
    Binding().Bind(libraryPath, logName, number);
}

void ReleaseLogSink() { Binding().Release(); }

int WriteTrace(TraceLevel level, const std::u16string& line) {
    Binding().Write(level, line);
    return 1;
}

}  // namespace vantel
