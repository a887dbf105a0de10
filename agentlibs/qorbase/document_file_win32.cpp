#include "agentlibs/qorbase/document_file.h"

namespace qorbase {

std::FILE* OpenDocumentFile(const std::u16string& windowsPath) {
    return _wfopen(reinterpret_cast<const wchar_t*>(windowsPath.c_str()), L"rb");
}

}  // namespace qorbase
