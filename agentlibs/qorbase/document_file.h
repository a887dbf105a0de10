// Opening a document file named by its Windows path; supplied per OS.
#pragma once
#include <cstdio>
#include <string>

namespace qorbase {

// For binary reading; null with errno set when the file cannot be opened.
std::FILE* OpenDocumentFile(const std::u16string& windowsPath);

}  // namespace qorbase
