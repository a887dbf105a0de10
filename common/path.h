// Windows path text, handled the same on every platform.
#pragma once
#include <string>

namespace vantel {

// Appends a relative path and folds "." and ".." segments, as the shell's path-append does:
// ("C:\a\b\m.dll", "..\x.dll") gives "C:\a\b\x.dll".
std::u16string PathAppend(const std::u16string& base, const std::u16string& relative);

// The folder part of a path, without its trailing backslash ("C:\a\b.dll" gives "C:\a").
std::u16string PathParent(const std::u16string& path);

}  // namespace vantel
