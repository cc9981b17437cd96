#include "app/Text.h"

#include <cwctype>

namespace text {
namespace {
constexpr bool kWide16 = sizeof(wchar_t) == 2;
constexpr char32_t kReplacement = 0xFFFD;

void appendCodePoint(std::wstring& out, char32_t cp) {
  if (kWide16 && cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<wchar_t>(cp));
  }
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}
}  // namespace

std::wstring utf8ToWide(const char* bytes, size_t length) {
  std::wstring out;
  out.reserve(length);
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  size_t i = 0;
  while (i < length) {
    unsigned char b = p[i];
    if (b < 0x80) {
      out.push_back(static_cast<wchar_t>(b));
      ++i;
      continue;
    }
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b & 0xE0) == 0xC0) { extra = 1; cp = b & 0x1F; min = 0x80; }
    else if ((b & 0xF0) == 0xE0) { extra = 2; cp = b & 0x0F; min = 0x800; }
    else if ((b & 0xF8) == 0xF0) { extra = 3; cp = b & 0x07; min = 0x10000; }
    else { appendCodePoint(out, kReplacement); ++i; continue; }
    bool ok = true;
    size_t j = 1;
    for (; ok && j <= static_cast<size_t>(extra); ++j) {
      if (i + j >= length || (p[i + j] & 0xC0) != 0x80) { ok = false; break; }
      cp = (cp << 6) | (p[i + j] & 0x3F);
    }
    if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      appendCodePoint(out, kReplacement);
      i += ok ? extra + 1 : (j > 1 ? j : 1);
      continue;
    }
    appendCodePoint(out, cp);
    i += extra + 1;
  }
  return out;
}

std::string wideToUtf8(const std::wstring& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t c = static_cast<char32_t>(s[i]);
    if (kWide16) c &= 0xFFFF;
    if (kWide16 && c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size()) {
      char32_t lo = static_cast<char32_t>(s[i + 1]) & 0xFFFF;
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        appendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00));
        ++i;
        continue;
      }
    }
    if (c > 0x10FFFF) c = kReplacement;
    appendUtf8(out, c);
  }
  return out;
}

std::u16string toUtf16(const std::wstring& s) {
  std::u16string out;
  out.reserve(s.size());
  for (wchar_t w : s) {
    char32_t c = static_cast<char32_t>(w);
    if (kWide16) c &= 0xFFFF;
    if (c >= 0x10000 && c <= 0x10FFFF) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c > 0x10FFFF ? kReplacement : c));
    }
  }
  return out;
}

std::wstring trim(const std::wstring& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::iswspace(s[b])) ++b;
  while (e > b && std::iswspace(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::wstring folderPart(const std::wstring& path) {
  size_t pos = path.find_last_of(L"\\/");
  return pos == std::wstring::npos ? path : path.substr(0, pos);
}

std::wstring fileNamePart(const std::wstring& path) {
  size_t pos = path.find_last_of(L"\\/");
  return pos == std::wstring::npos ? std::wstring() : path.substr(pos + 1);
}

int countSignificantChars(std::wstring& s) {
  std::wstring kept;
  int count = 0;
  for (wchar_t c : s) {
    if (static_cast<unsigned>(c) <= L' ') continue;
    kept.push_back(c);
    if (c != L'0') ++count;
  }
  s.swap(kept);
  return count;
}

bool isPrintableAscii(const std::wstring& s) {
  for (wchar_t c : s)
    if (c < 32 || c > 126) return false;
  return true;
}

std::wstring fitOrEmpty(const std::wstring& s, size_t capacity) {
  return s.size() + 1 > capacity ? std::wstring() : s;
}

bool equalsIgnoreCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'A' && x <= L'Z') x = x - L'A' + L'a';
    if (y >= L'A' && y <= L'Z') y = y - L'A' + L'a';
    if (x != y) return false;
  }
  return true;
}

std::wstring toWide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::wstring fromInt(long long value) { return std::to_wstring(value); }

std::wstring quotedIfBlank(const std::wstring& path) {
  if (path.find(L' ') == std::wstring::npos) return path;
  return L"\"" + path + L"\"";
}

std::wstring fillEachS(const std::wstring& format, const std::wstring& value) {
  std::wstring out;
  out.reserve(format.size() + value.size());
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == L'%' && i + 1 < format.size() && (format[i + 1] == L's' || format[i + 1] == L'%')) {
      out += format[i + 1] == L's' ? value : std::wstring(L"%");
      ++i;
    } else {
      out += format[i];
    }
  }
  return out;
}

}  // namespace text
