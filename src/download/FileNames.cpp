#include "download/FileNames.h"

#include <cwctype>

namespace download {

namespace {

bool isDeviceName(const std::wstring& name) {
  std::wstring base = name.substr(0, name.find(L'.'));
  while (!base.empty() && base.back() == L' ') base.pop_back();
  for (wchar_t& c : base) c = static_cast<wchar_t>(std::towupper(c));
  static const wchar_t* const kFixed[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$", L"CLOCK$"};
  for (const wchar_t* fixed : kFixed) {
    if (base == fixed) return true;
  }
  if (base.size() != 4 || (base.compare(0, 3, L"COM") != 0 && base.compare(0, 3, L"LPT") != 0)) return false;
  // Windows also takes the superscript digits as port numbers.
  wchar_t port = base[3];
  return (port >= L'0' && port <= L'9') || port == L'\u00b9' || port == L'\u00b2' || port == L'\u00b3';
}

}  // namespace

std::wstring lastPathComponent(const std::wstring& name) {
  size_t cut = name.find_last_of(L"/\\");
  return cut == std::wstring::npos ? name : name.substr(cut + 1);
}

bool isSafeFileName(const std::wstring& name) {
  bool onlyDotsAndBlanks = true;
  for (wchar_t c : name) {
    if (c < 32 || c == 127 || std::wstring(L"<>:\"/\\|?*").find(c) != std::wstring::npos) return false;
    if (c != L'.' && c != L' ') onlyDotsAndBlanks = false;
  }
  return !onlyDotsAndBlanks && !isDeviceName(name);
}

}  // namespace download
