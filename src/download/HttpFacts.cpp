#include "download/HttpFacts.h"

#include <cstdint>
#include <cwchar>
#include <cwctype>

namespace download {

bool acceptsRangesValue(const std::wstring& headerValue) { return headerValue == L"bytes"; }

long long parseContentLength(const std::wstring& headerValue) {
  long long value = 0;
  for (wchar_t c : headerValue) {
    if (c < L'0' || c > L'9') break;
    value = value * 10 + (c - L'0');
    if (value >= kHugeLength) return kHugeLength;
  }
  return value;
}

namespace {
bool isWordChar(wchar_t c) { return c == L'_' || std::iswalnum(c); }

// The name after one "filename=" at position start, matched the way
// filename=\s*"?(\w[^";]*\w)"?\s* matches there; empty when it does not.
std::wstring nameAfter(const std::wstring& value, size_t start) {
  size_t i = start;
  while (i < value.size() && std::iswspace(value[i])) ++i;
  if (i < value.size() && value[i] == L'"') ++i;
  if (i >= value.size() || !isWordChar(value[i])) return std::wstring();
  size_t runEnd = value.find_first_of(L"\";", i + 1);
  if (runEnd == std::wstring::npos) runEnd = value.size();
  for (size_t last = runEnd; last > i + 1; --last) {
    if (isWordChar(value[last - 1])) return value.substr(i, last - i);
  }
  return std::wstring();
}
}  // namespace

// Matched by hand rather than with std::wregex: the library's recursive
// matcher can exhaust the stack on a long header, and the header comes from
// the network.
std::wstring fileNameFromDisposition(const std::wstring& headerValue) {
  static const std::wstring kKey = L"filename=";
  for (size_t at = headerValue.find(kKey); at != std::wstring::npos; at = headerValue.find(kKey, at + 1)) {
    std::wstring name = nameAfter(headerValue, at + kKey.size());
    if (!name.empty()) return name;
  }
  return std::wstring();
}

namespace {
// Digits at i as a number (at most kHugeLength); -1 when there are none.
long long digitsAt(const std::wstring& text, size_t& i) {
  size_t begin = i;
  long long value = 0;
  while (i < text.size() && text[i] >= L'0' && text[i] <= L'9') {
    if (value < kHugeLength) value = value * 10 + (text[i] - L'0');
    ++i;
  }
  if (i == begin) return -1;
  return value < kHugeLength ? value : kHugeLength;
}
}  // namespace

ContentRange parseContentRange(const std::wstring& headerValue) {
  ContentRange range;
  const std::wstring& v = headerValue;
  size_t i = 0;
  while (i < v.size() && std::iswspace(v[i])) ++i;
  if (v.compare(i, 5, L"bytes") != 0) return range;
  i += 5;
  while (i < v.size() && std::iswspace(v[i])) ++i;
  long long first = -1;
  long long last = -1;
  if (i < v.size() && v[i] == L'*') {
    ++i;
  } else {
    first = digitsAt(v, i);
    if (first < 0 || i >= v.size() || v[i] != L'-') return range;
    ++i;
    last = digitsAt(v, i);
    if (last < first) return range;
  }
  range.first = first;
  range.last = last;
  if (i < v.size() && v[i] == L'/') {
    ++i;
    range.total = digitsAt(v, i);
  }
  return range;
}

long long parseContentRangeStart(const std::wstring& headerValue) { return parseContentRange(headerValue).first; }

bool wantsRangeHeader(bool acceptsRanges, int offset, int length) {
  return (acceptsRanges && offset != 0) || length != -1;
}

std::wstring rangeHeader(int offset, int length) {
  uint32_t first = static_cast<uint32_t>(offset);
  uint32_t last = first + static_cast<uint32_t>(length) - 1u;
  return L"Range: bytes=" + std::to_wstring(first) + L"-" + std::to_wstring(last);
}

bool isContentStatus(int status) { return status == 0 || status == 200 || status == 206; }

bool isServerErrorStatus(int status) { return status >= 500 && status <= 599; }

long long parseRetryAfterSeconds(const std::wstring& headerValue) {
  size_t i = 0;
  while (i < headerValue.size() && (headerValue[i] == L' ' || headerValue[i] == L'\t')) ++i;
  size_t digits = i;
  long long seconds = 0;
  while (i < headerValue.size() && headerValue[i] >= L'0' && headerValue[i] <= L'9') {
    if (seconds < 1000000000LL) seconds = seconds * 10 + (headerValue[i] - L'0');
    ++i;
  }
  if (i == digits) return -1;
  while (i < headerValue.size() && (headerValue[i] == L' ' || headerValue[i] == L'\t')) ++i;
  return i == headerValue.size() ? seconds : -1;
}

bool isStrongEtag(const std::wstring& value) {
  if (value.size() < 2 || value.size() > kMaxEtagLength || value.front() != L'"' || value.back() != L'"') return false;
  for (size_t i = 1; i + 1 < value.size(); ++i) {
    wchar_t c = value[i];
    if (c < 0x21 || c > 0x7e || c == L'"') return false;
  }
  return true;
}

bool isSecureUrl(const std::wstring& url) {
  return url.compare(0, 5, L"https") == 0 || url.compare(0, 5, L"HTTPS") == 0;
}

namespace {
// Length of "scheme://" at the start, or 0 when the text has no scheme.
size_t schemeLength(const std::wstring& url) {
  size_t i = 0;
  while (i < url.size() && (std::iswalnum(url[i]) || url[i] == L'+' || url[i] == L'-' || url[i] == L'.')) ++i;
  if (i == 0 || !std::iswalpha(url[0])) return 0;
  if (url.compare(i, 3, L"://") != 0) return 0;
  return i + 3;
}
}  // namespace

std::wstring resolveLocation(const std::wstring& currentUrl, const std::wstring& location) {
  if (location.empty() || schemeLength(location) > 0) return location;
  size_t scheme = schemeLength(currentUrl);
  if (scheme == 0) return location;
  if (location.compare(0, 2, L"//") == 0) return currentUrl.substr(0, scheme - 2) + location;
  size_t pathStart = currentUrl.find_first_of(L"/?#", scheme);
  std::wstring origin = currentUrl.substr(0, pathStart);
  if (location[0] == L'/') return origin + location;
  std::wstring path = pathStart == std::wstring::npos ? L"/" : currentUrl.substr(pathStart);
  size_t queryStart = path.find_first_of(L"?#");
  if (queryStart != std::wstring::npos) path.resize(queryStart);
  if (location[0] == L'?') return origin + (path.empty() ? L"/" : path) + location;
  size_t lastSlash = path.rfind(L'/');
  std::wstring folder = lastSlash == std::wstring::npos ? L"/" : path.substr(0, lastSlash + 1);
  return origin + folder + location;
}

namespace {
bool hasScheme(const std::wstring& url, const wchar_t* scheme) {
  size_t n = std::wcslen(scheme);
  if (url.size() < n + 3 || url.compare(n, 3, L"://") != 0) return false;
  for (size_t i = 0; i < n; ++i) {
    if (static_cast<wchar_t>(std::towlower(url[i])) != scheme[i]) return false;
  }
  return true;
}
}  // namespace

bool redirectAllowed(const std::wstring& fromUrl, const std::wstring& toUrl) {
  bool toSecure = hasScheme(toUrl, L"https");
  if (!toSecure && !hasScheme(toUrl, L"http")) return false;
  return toSecure || !hasScheme(fromUrl, L"https");
}

std::wstring hostOfUrl(const std::wstring& url) {
  size_t scheme = schemeLength(url);
  if (scheme == 0) return std::wstring();
  size_t end = url.find_first_of(L"/?#", scheme);
  std::wstring authority = url.substr(scheme, end == std::wstring::npos ? std::wstring::npos : end - scheme);
  size_t at = authority.rfind(L'@');
  return at == std::wstring::npos ? authority : authority.substr(at + 1);
}

std::wstring fileNameFromUrl(const std::wstring& url) {
  size_t cut = url.find_last_of(L"/\\");
  if (cut == std::wstring::npos) return std::wstring();
  return url.substr(cut + 1);
}

}  // namespace download
