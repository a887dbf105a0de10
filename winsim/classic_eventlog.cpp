#include "winsim/classic_eventlog.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

#include "common/text.h"
#include "platform/errors.h"
#include "winsim/handles.h"
#include "winsim/retention.h"

namespace winsim {

namespace errors = vantel::platform;

namespace {

constexpr size_t kRecordHeaderBytes = 56;

// What a record takes in the log file, near enough: the fixed header, its texts with their
// terminators, its SID and data, and the trailing length.
uint64_t StoredSize(const ClassicRecord& record) {
    uint64_t bytes = kRecordHeaderBytes + 4 + 2 * (record.source.size() + record.computer.size() + 2) +
                     record.userSid.size() + record.data.size();
    for (const std::u16string& text : record.strings) bytes += 2 * (text.size() + 1);
    return bytes;
}

struct ClassicLog {
    RetainedRecords<ClassicRecord> records;
    uint32_t firstNumber = 1;  // the number of the oldest record kept, or of the next one when empty
    uint32_t file = 0;         // counts the files the log has had
    bool archiveWhenFull = false;

    uint32_t NextNumber() const { return firstNumber + static_cast<uint32_t>(records.records().size()); }
    bool Holds(uint32_t number) const { return number >= firstNumber && number < NextNumber(); }
    void StartNewFile() {
        records.Clear();
        firstNumber = 1;
        ++file;
    }
};

struct OpenLog {
    std::u16string name;  // folded
    uint32_t file = 0;
    std::optional<uint32_t> position{};  // the record the next sequential read starts at
    std::optional<KernelEvent> notify{};
};

struct ClassicLogs {
    std::mutex lock;
    std::map<std::u16string, ClassicLog> logs;  // by folded name
    std::map<uintptr_t, OpenLog> handles;
    int32_t nextFailure = 0;

    ClassicLogs() { Reset(); }
    void Reset() {
        // Handles keep their file number, which no new log has: they read 1503.
        uint32_t files = 0;
        for (const auto& [name, log] : logs) files = std::max(files, log.file + 1);
        logs.clear();
        for (const char16_t* name : {u"SECURITY", u"SYSTEM", u"APPLICATION"}) logs[name].file = files;
        nextFailure = 0;
    }
    // Appends under the lock, waking the log's watchers.
    void Append(const std::u16string& name, ClassicRecord record);
    ClassicLog* Find(const std::u16string& name) {
        auto found = logs.find(vantel::FoldCase(name));
        return found == logs.end() ? nullptr : &found->second;
    }
    // The handle and its log; the error when either is gone.
    int32_t Open(uintptr_t handle, OpenLog** open, ClassicLog** log) {
        auto found = handles.find(handle);
        if (found == handles.end()) return errors::kErrorInvalidHandle;
        *open = &found->second;
        auto named = logs.find(found->second.name);
        if (named == logs.end()) return errors::kErrorInvalidHandle;
        *log = &named->second;
        return 0;
    }
};

ClassicLogs& TheLogs() {
    static ClassicLogs* logs = new ClassicLogs;
    return *logs;
}

}  // namespace

void ClassicLogs::Append(const std::u16string& name, ClassicRecord record) {
    ClassicLog& target = logs[name];
    uint64_t bytes = StoredSize(record);
    if (target.archiveWhenFull && target.records.Full(bytes)) target.StartNewFile();
    target.firstNumber += static_cast<uint32_t>(target.records.Append(std::move(record), bytes));
    for (auto& [handle, open] : handles)
        if (open.name == name && open.notify) open.notify->Set();
}

void AppendClassicRecord(const std::u16string& log, ClassicRecord record) {
    ClassicLogs& logs = TheLogs();
    std::lock_guard guard(logs.lock);
    logs.Append(vantel::FoldCase(log), std::move(record));
}

void ClearClassicLog(const std::u16string& log, std::vector<ClassicRecord> written) {
    ClassicLogs& logs = TheLogs();
    std::lock_guard guard(logs.lock);
    ClassicLog* found = logs.Find(log);
    if (found == nullptr) return;
    found->StartNewFile();
    for (ClassicRecord& record : written) logs.Append(vantel::FoldCase(log), std::move(record));
}

void SetClassicLogRetention(const std::u16string& log, uint64_t maximumBytes, bool archiveWhenFull) {
    ClassicLogs& logs = TheLogs();
    std::lock_guard guard(logs.lock);
    ClassicLog& target = logs.logs[vantel::FoldCase(log)];
    target.archiveWhenFull = archiveWhenFull;
    uint64_t before = target.records.records().size();
    target.records.SetMaximum(maximumBytes);
    target.firstNumber += static_cast<uint32_t>(before - target.records.records().size());
}

size_t ClassicRecordCount(const std::u16string& log) {
    ClassicLogs& logs = TheLogs();
    std::lock_guard guard(logs.lock);
    ClassicLog* found = logs.Find(log);
    return found ? found->records.records().size() : 0;
}

void ResetClassicLogs() {
    ClassicLogs& logs = TheLogs();
    std::lock_guard guard(logs.lock);
    logs.Reset();
}

void FailNextClassicRead(int32_t error) {
    ClassicLogs& logs = TheLogs();
    std::lock_guard guard(logs.lock);
    logs.nextFailure = error;
}

size_t OpenClassicLogHandleCount() {
    ClassicLogs& logs = TheLogs();
    std::lock_guard guard(logs.lock);
    return logs.handles.size();
}

size_t ClassicLogWatcherCount(const std::u16string& log) {
    ClassicLogs& logs = TheLogs();
    std::lock_guard guard(logs.lock);
    size_t watchers = 0;
    for (const auto& [handle, open] : logs.handles) watchers += open.name == vantel::FoldCase(log) && open.notify;
    return watchers;
}

bool ClassicLogWatchersCaughtUp(const std::u16string& log) {
    ClassicLogs& logs = TheLogs();
    std::lock_guard guard(logs.lock);
    const ClassicLog* found = logs.Find(log);
    if (found == nullptr) return true;
    const std::u16string name = vantel::FoldCase(log);
    for (const auto& [handle, open] : logs.handles) {
        if (open.name != name || !open.notify) continue;
        // A handle of an older file reads "file changed" next, and one never read reads from the
        // oldest record.
        bool unread = open.file != found->file || found->Holds(std::max(open.position.value_or(0), found->firstNumber));
        if (unread || open.notify->Waiters() == 0) return false;
    }
    return true;
}

int32_t OpenClassicLog(const std::u16string& log, uintptr_t* handle) {
    ClassicLogs& logs = TheLogs();
    std::lock_guard guard(logs.lock);
    ClassicLog* found = logs.Find(log);
    if (found == nullptr) return errors::kErrorFileNotFound;
    *handle = NextHandleValue();
    logs.handles[*handle] = OpenLog{vantel::FoldCase(log), found->file};
    return 0;
}

bool CloseClassicLog(uintptr_t handle) {
    ClassicLogs& logs = TheLogs();
    std::lock_guard guard(logs.lock);
    return logs.handles.erase(handle) != 0;
}

int32_t ReadClassicLog(uintptr_t handle, uint32_t flags, uint32_t recordNumber, const ClassicRecordTaker& take) {
    ClassicLogs& logs = TheLogs();
    std::lock_guard guard(logs.lock);
    OpenLog* open = nullptr;
    ClassicLog* log = nullptr;
    if (int32_t error = logs.Open(handle, &open, &log)) return error;
    const bool seek = flags & kClassicSeekRead, backwards = flags & kClassicBackwardsRead;
    if (seek == bool(flags & kClassicSequentialRead) || backwards == bool(flags & kClassicForwardsRead))
        return errors::kErrorInvalidParameter;
    if (int32_t failure = std::exchange(logs.nextFailure, 0)) return failure;
    if (open->file != log->file) return kErrorEventLogFileChanged;

    uint32_t number = 0;
    if (seek) {
        if (!log->Holds(recordNumber)) return errors::kErrorInvalidParameter;
        number = recordNumber;
    } else if (open->position) {
        // Records overwritten since the last read are gone: forwards goes on at the oldest kept.
        number = backwards ? *open->position : std::max(*open->position, log->firstNumber);
    } else {
        number = backwards ? log->NextNumber() - 1 : log->firstNumber;
    }
    if (!log->Holds(number)) {
        if (!seek && !open->position && !backwards) open->position = number;  // new records come next
        return kErrorHandleEof;
    }
    const auto& records = log->records.records();
    for (; log->Holds(number); backwards ? --number : ++number) {
        if (!take(number, records[number - log->firstNumber])) break;
        open->position = backwards ? number - 1 : number + 1;
    }
    return 0;
}

int32_t ClassicLogExtent(uintptr_t handle, uint32_t* oldest, uint32_t* count) {
    ClassicLogs& logs = TheLogs();
    std::lock_guard guard(logs.lock);
    OpenLog* open = nullptr;
    ClassicLog* log = nullptr;
    if (int32_t error = logs.Open(handle, &open, &log)) return error;
    *count = static_cast<uint32_t>(log->records.records().size());
    *oldest = *count == 0 ? 0 : log->firstNumber;
    return 0;
}

int32_t NotifyClassicLogChange(uintptr_t handle, const KernelEvent& event) {
    ClassicLogs& logs = TheLogs();
    std::lock_guard guard(logs.lock);
    auto found = logs.handles.find(handle);
    if (found == logs.handles.end()) return errors::kErrorInvalidHandle;
    found->second.notify = event;
    return 0;
}

}  // namespace winsim
