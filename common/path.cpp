#include "common/path.h"

#include <vector>

namespace vantel {

namespace {

// Splits off the root ("C:\", "\\server\share\" or "\") that ".." may never climb above.
size_t RootLength(const std::u16string& path) {
    if (path.size() >= 2 && path[1] == u':') return path.size() >= 3 && path[2] == u'\\' ? 3 : 2;
    if (path.rfind(u"\\\\", 0) == 0) {
        size_t server = path.find(u'\\', 2);
        if (server == std::u16string::npos) return path.size();
        size_t share = path.find(u'\\', server + 1);
        return share == std::u16string::npos ? path.size() : share + 1;
    }
    return !path.empty() && path[0] == u'\\' ? 1 : 0;
}

}  // namespace

std::u16string PathAppend(const std::u16string& base, const std::u16string& relative) {
    std::u16string joined = base;
    if (!joined.empty() && joined.back() != u'\\' && !relative.empty()) joined += u'\\';
    joined += relative;

    size_t rootLength = RootLength(joined);
    std::vector<std::u16string> segments;
    size_t pos = rootLength;
    while (pos <= joined.size()) {
        size_t end = joined.find(u'\\', pos);
        if (end == std::u16string::npos) end = joined.size();
        std::u16string segment = joined.substr(pos, end - pos);
        if (segment == u"..") {
            if (!segments.empty()) segments.pop_back();
        } else if (!segment.empty() && segment != u".") {
            segments.push_back(segment);
        }
        pos = end + 1;
    }
    std::u16string result = joined.substr(0, rootLength);
    for (size_t i = 0; i < segments.size(); ++i) {
        if (i > 0) result += u'\\';
        result += segments[i];
    }
    return result;
}

std::u16string PathParent(const std::u16string& path) {
    size_t slash = path.rfind(u'\\');
    if (slash == std::u16string::npos) return std::u16string();
    return path.substr(0, slash);
}

}  // namespace vantel
