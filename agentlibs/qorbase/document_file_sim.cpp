#include <cerrno>

#include "agentlibs/qorbase/document_file.h"
#include "winsim/files.h"

namespace qorbase {

std::FILE* OpenDocumentFile(const std::u16string& windowsPath) {
    std::string hostPath = winsim::HostPath(windowsPath);
    if (hostPath.empty()) {
        errno = ENOENT;  // a drive the machine does not have
        return nullptr;
    }
    return std::fopen(hostPath.c_str(), "rb");
}

}  // namespace qorbase
