#pragma once
#include <string>

namespace win {
// The program's own path (first 1000 characters) in its long form: Windows
// gives the path in the form the program was started with, and the elevated
// copy is started through its short (8.3) path.
std::wstring moduleLongPath();
std::wstring moduleShortPath();
// The short form of a path; empty when the system gives none.
std::wstring shortPathOf(const std::wstring& path);
// The long form of a path; the path itself when the system gives none.
std::wstring longPathOf(const std::wstring& path);
}  // namespace win
