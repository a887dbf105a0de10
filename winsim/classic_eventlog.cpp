#include "winsim/classic_eventlog.h"

#include <map>
#include <mutex>
#include <utility>

#include "common/text.h"

namespace winsim {

namespace {

using Logs = std::map<std::u16string, std::vector<ClassicRecord>>;  // by folded name

Logs DefaultLogs() { return {{u"SECURITY", {}}, {u"SYSTEM", {}}, {u"APPLICATION", {}}}; }

struct ClassicLogs {
    std::mutex lock;
    Logs logs = DefaultLogs();
    int32_t nextFailure = 0;
};

ClassicLogs& TheLogs() {
    static ClassicLogs* logs = new ClassicLogs;
    return *logs;
}

}  // namespace

void AppendClassicRecord(const std::u16string& log, ClassicRecord record) {
    ClassicLogs& logs = TheLogs();
    std::lock_guard guard(logs.lock);
    logs.logs[vantel::FoldCase(log)].push_back(std::move(record));
}

void ResetClassicLogs() {
    ClassicLogs& logs = TheLogs();
    std::lock_guard guard(logs.lock);
    logs.logs = DefaultLogs();
    logs.nextFailure = 0;
}

void FailNextClassicRead(int32_t error) {
    ClassicLogs& logs = TheLogs();
    std::lock_guard guard(logs.lock);
    logs.nextFailure = error;
}

int32_t OpenClassicLog(const std::u16string& log) {
    ClassicLogs& logs = TheLogs();
    std::lock_guard guard(logs.lock);
    return logs.logs.count(vantel::FoldCase(log)) ? 0 : 2;
}

int32_t ClassicLogRecords(const std::u16string& log, std::vector<ClassicRecord>* records) {
    ClassicLogs& logs = TheLogs();
    std::lock_guard guard(logs.lock);
    if (int32_t failure = std::exchange(logs.nextFailure, 0)) return failure;
    auto found = logs.logs.find(vantel::FoldCase(log));
    if (found == logs.logs.end()) return 2;
    *records = found->second;
    return 0;
}

}  // namespace winsim
