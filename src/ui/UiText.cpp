#include "ui/UiText.h"

#include <cstdio>

namespace uitext {

namespace {
bool isHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
}  // namespace

std::wstring cut(const std::wstring& s, size_t capacity) {
  if (capacity == 0) return std::wstring();
  size_t keep = capacity - 1;
  if (s.size() <= keep) return s;
  // A high surrogate at the end of what is kept would lose its partner.
  if (keep > 0 && isHighSurrogate(s[keep - 1])) --keep;
  return s.substr(0, keep);
}

std::wstring formatWith(const std::wstring& format, const std::wstring& argument) {
  std::wstring out;
  out.reserve(format.size() + argument.size());
  bool substituted = false;
  for (size_t i = 0; i < format.size(); ++i) {
    wchar_t c = format[i];
    if (c == L'%' && i + 1 < format.size()) {
      wchar_t n = format[i + 1];
      if (n == L'%') {
        out += L'%';
        ++i;
        continue;
      }
      if (n == L's' && !substituted) {
        out += argument;
        substituted = true;
        ++i;
        continue;
      }
    }
    out += c;
  }
  return out;
}

std::wstring percentText(float value) {
  char buffer[48];
  std::snprintf(buffer, sizeof(buffer), "%0.1f%%", static_cast<double>(value));
  std::wstring out;
  for (const char* p = buffer; *p; ++p) out += static_cast<wchar_t>(*p);
  return out;
}

bool isWebAddress(const std::wstring& url) {
  auto startsWith = [&](const wchar_t* prefix) {
    size_t i = 0;
    for (; prefix[i]; ++i) {
      if (i >= url.size()) return false;
      wchar_t c = url[i];
      if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
      if (c != prefix[i]) return false;
    }
    return i < url.size() && url[i] != L'/' && url[i] != L'\\';
  };
  for (wchar_t c : url)
    if (c < 0x20 || c == 0x7f || c == L' ' || c == L'"') return false;
  return startsWith(L"http://") || startsWith(L"https://");
}

}  // namespace uitext
