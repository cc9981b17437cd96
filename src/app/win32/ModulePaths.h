#pragma once
#include <string>

namespace win {
// The program's own path (first 1000 characters), long and short (8.3) forms.
std::wstring moduleLongPath();
std::wstring moduleShortPath();
// The short form of a path; empty when the system gives none.
std::wstring shortPathOf(const std::wstring& path);
}  // namespace win
