#include "monitors/history_record.h"

namespace vantel {

const char16_t* LevelName(LevelTable table, uint32_t value) {
    static const char16_t* const kWords[] = {u"Error",         u"Warning",       u"Informational",
                                             u"Audit Success", u"Audit Failure", u"Critical"};
    enum Word { kError, kWarning, kInformational, kAuditSuccess, kAuditFailure, kCritical };
    if (table == LevelTable::Modern) {
        switch (value) {
            case 1: return kWords[kCritical];
            case 2: return kWords[kError];
            case 3: return kWords[kWarning];
            case 4: return kWords[kInformational];
            default: return kWords[kAuditSuccess];
        }
    }
    switch (value) {
        case 1: return kWords[kError];
        case 2: return kWords[kWarning];
        case 4: return kWords[kInformational];
        case 8: return kWords[kAuditSuccess];
        case 16: return kWords[kAuditFailure];
        default: return kWords[kAuditSuccess];
    }
}

}  // namespace vantel
