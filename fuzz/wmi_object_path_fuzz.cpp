// Object paths of Win32_SystemUsers, as WMI hands them over: the name and domain read from any
// text, then the account query built from them, which must always be a query WMI accepts.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "accounts/wql.h"
#include "common/format.h"
#include "common/text.h"
#include "winsim/wmi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string path = vantel::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    std::u16string name, domain;
    vantel::ParseUserAccountPath(path, &name, &domain);
    // The literals are cut at a zero character, as the query text is.
    for (std::u16string* part : {&name, &domain}) part->resize(std::u16string(part->c_str()).size());
    std::u16string wql = vantel::Format(u"SELECT * FROM Win32_UserAccount where Name='%s' and Domain='%s'",
                                        vantel::EscapeWqlLiteral(name), vantel::EscapeWqlLiteral(domain));
    std::vector<winsim::WmiObject> objects;
    if (winsim::WmiExecQuery(wql, &objects) != 0) __builtin_trap();
    return 0;
}
