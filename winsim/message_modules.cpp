#include "winsim/message_modules.h"

#include <mutex>
#include <utility>

#include "common/text.h"
#include "platform/errors.h"
#include "winsim/system.h"

namespace winsim {

namespace {

constexpr int32_t kErrorMessageIdNotFound = 317;

// A few texts of the system's table, as a message-table compiler leaves them: with a line break.
const MessageTable& SystemMessages() {
    // Never destroyed, like all of the machine: the module's threads may use it while the process ends.
    static const auto* const table = new MessageTable{{0, u"The operation completed successfully.\r\n"},
                                                      {2, u"The system cannot find the file specified.\r\n"},
                                                      {5, u"Access is denied.\r\n"},
                                                      {87, u"The parameter is incorrect.\r\n"}};
    return *table;
}

struct Modules {
    std::mutex lock;
    std::map<std::u16string, std::shared_ptr<const MessageTable>> files;  // by folded, expanded path
};

Modules& TheModules() {
    static Modules* modules = new Modules;
    return *modules;
}

std::u16string FileKey(const std::u16string& path) { return vantel::FoldCase(ExpandEnvironmentStrings(path)); }

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

}  // namespace

void AddMessageModule(const std::u16string& path, MessageTable table) {
    Modules& modules = TheModules();
    std::lock_guard guard(modules.lock);
    modules.files[FileKey(path)] = std::make_shared<const MessageTable>(std::move(table));
}

void ResetMessageModules() {
    Modules& modules = TheModules();
    std::lock_guard guard(modules.lock);
    modules.files.clear();
}

std::shared_ptr<const MessageTable> LoadMessageModule(const std::u16string& path) {
    std::shared_ptr<const MessageTable> file;
    {
        Modules& modules = TheModules();
        std::lock_guard guard(modules.lock);
        auto found = modules.files.find(FileKey(path));
        if (found == modules.files.end()) return nullptr;
        file = found->second;
    }
    return std::make_shared<const MessageTable>(*file);
}

int32_t FormatMessage(const MessageTable* module, uint32_t messageId, const std::vector<std::u16string>* inserts,
                      std::u16string* text) {
    const std::u16string* message = nullptr;
    for (const MessageTable* table : {module, &SystemMessages()}) {
        if (table == nullptr) continue;
        auto found = table->find(messageId);
        if (found != table->end()) {
            message = &found->second;
            break;
        }
    }
    if (message == nullptr) return kErrorMessageIdNotFound;
    const std::u16string& source = *message;
    std::u16string out;
    for (size_t i = 0; i < source.size(); ++i) {
        if (source[i] != u'%' || i + 1 == source.size()) {
            out += source[i];
            continue;
        }
        char16_t next = source[++i];
        if (next == u'0') break;
        if (!IsDigit(next)) {
            // %n, %r and %t stand for line breaks and a tab; any other character stands for itself.
            out += next == u'n' ? std::u16string(u"\r\n") : next == u'r' ? u"\r" : next == u't' ? u"\t"
                                                                                               : std::u16string(1, next);
            continue;
        }
        size_t start = i - 1, index = next - u'0';
        if (i + 1 < source.size() && IsDigit(source[i + 1])) index = index * 10 + (source[++i] - u'0');
        if (i + 1 < source.size() && source[i + 1] == u'!') {
            size_t close = source.find(u'!', i + 2);
            if (close != std::u16string::npos) i = close;
        }
        if (inserts == nullptr) {
            out.append(source, start, i + 1 - start);
        } else if (index <= inserts->size()) {
            out += (*inserts)[index - 1];
        } else {
            return vantel::platform::kErrorInvalidParameter;
        }
    }
    *text = std::move(out);
    return 0;
}

}  // namespace winsim
