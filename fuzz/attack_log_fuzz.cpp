// "AtLog.xml" contents as another component may write them: any bytes must load or be refused,
// every entry read must be newer than the last id, and an address is always part of its text.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "agentlibs/qorbase/xml_document.h"
#include "common/text.h"
#include "monitors/attack_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    auto* document = new qorbase::XmlDocument;
    document->LoadFileContents(bytes);
    std::vector<vantel::AttackRecord> attacks;
    for (int64_t lastId : {std::numeric_limits<int64_t>::min(), int64_t{-1}, int64_t{0}, int64_t{1}, int64_t{3}}) {
        vantel::ReadAttackEntries(document, lastId, &attacks);
        for (const vantel::AttackRecord& attack : attacks)
            if (vantel::LeadingInt64(attack.id) <= lastId) __builtin_trap();
    }
    document->Release();
    std::u16string log = vantel::FromUtf8(bytes);
    if (log.find(vantel::AttackAddress(log)) == std::u16string::npos) __builtin_trap();
    return 0;
}
