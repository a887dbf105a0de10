// Files of the build as both backends see them: Wine and winsim put the real file system on Z:.
#pragma once
#include <string>

#include "common/text.h"

namespace vantel::testing {

inline std::u16string BuildPath(const char* folder, const char16_t* relative) {
    std::u16string path = u"Z:" + FromUtf8(folder) + u"\\" + relative;
    for (char16_t& c : path)
        if (c == u'/') c = u'\\';
    return path;
}

}  // namespace vantel::testing
