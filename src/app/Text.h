#pragma once
// Text helpers shared by every part of the installer. Portable: no windows.h.
//
// All installer text is wide. On Windows wchar_t holds UTF-16 code units; in
// the native (test) build it holds whole code points. The converters below
// handle both so portable logic behaves the same in either build.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace text {

// UTF-8 to wide text. Malformed sequences become U+FFFD; never throws.
std::wstring utf8ToWide(const char* bytes, size_t length);
inline std::wstring utf8ToWide(const std::string& s) { return utf8ToWide(s.data(), s.size()); }

// Wide text to UTF-8. A lone surrogate half is encoded on its own (three bytes).
std::string wideToUtf8(const std::wstring& s);

// The UTF-16 code units of a text, whatever the size of wchar_t.
std::u16string toUtf16(const std::wstring& s);

// Removes the characters iswspace accepts from both ends.
std::wstring trim(const std::wstring& s);

// Everything before the last '\' or '/', or the whole text when there is none.
std::wstring folderPart(const std::wstring& path);
// Everything after the last '\' or '/'; empty when there is none.
std::wstring fileNamePart(const std::wstring& path);

// Removes every character at or below the blank (in place) and counts what is
// left other than '0': tells an all-zero serial number from a real one.
int countSignificantChars(std::wstring& s);

// True when every character lies between 32 and 126.
bool isPrintableAscii(const std::wstring& s);

// Copies at most capacity-1 characters: a longer text gives empty, the way the
// installer's fixed-size fields refuse what does not fit.
std::wstring fitOrEmpty(const std::wstring& s, size_t capacity);

// ASCII-only case-insensitive comparison (option values such as "false").
bool equalsIgnoreCase(const std::wstring& a, const std::wstring& b);

// The path in double quotes when it holds a blank, so that a command line
// built from it cannot be read as a shorter program ("C:\Program.exe").
std::wstring quotedIfBlank(const std::wstring& path);

// The format with every "%s" replaced by value and every "%%" by "%"; other
// "%" sequences stay as they are.
std::wstring fillEachS(const std::wstring& format, const std::wstring& value);

std::wstring toWide(const std::string& ascii);
std::wstring fromInt(long long value);

}  // namespace text
