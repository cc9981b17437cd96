#include "scenario/JavaVersion.h"

#include <cwchar>
#include <vector>

namespace {

// Plain decimal conversion that never overflows: long runs of digits stop
// growing at a ceiling no real version reaches.
int decimal(const std::wstring& digits) {
  long long value = 0;
  for (wchar_t c : digits) {
    if (c < L'0' || c > L'9') break;
    value = value * 10 + (c - L'0');
    if (value > 99999) return 99999;
  }
  return static_cast<int>(value);
}

std::vector<int> numbersOf(const std::wstring& text) {
  std::vector<int> numbers;
  std::wstring run;
  for (wchar_t c : text) {
    if (c >= L'0' && c <= L'9') {
      run += c;
    } else if (!run.empty()) {
      numbers.push_back(decimal(run));
      run.clear();
    }
  }
  if (!run.empty()) numbers.push_back(decimal(run));
  return numbers;
}

size_t digitsEnd(const std::wstring& text, size_t at) {
  while (at < text.size() && text[at] >= L'0' && text[at] <= L'9') ++at;
  return at;
}

// A line end cannot stand as the version's second character.
bool isLineEnd(wchar_t c) { return c == L'\n' || c == L'\r' || c == 0x2028 || c == 0x2029; }

}  // namespace

JavaVersion parseJavaVersion(const std::wstring& text) {
  JavaVersion version;
  version.text = text;
  // The leftmost "1.<digits>.<digits>_<digits>". Each run of digits is
  // followed by a fixed character, so taking the whole run at each start is
  // the only way a start can match.
  for (size_t start = text.find(L"1."); start != std::wstring::npos; start = text.find(L"1.", start + 1)) {
    size_t at = start + 2;
    const size_t feature = at;
    at = digitsEnd(text, at);
    const size_t featureEnd = at;
    if (at == feature || at >= text.size() || text[at] != L'.') continue;
    const size_t minor = ++at;
    at = digitsEnd(text, at);
    if (at == minor || at >= text.size() || text[at] != L'_') continue;
    const size_t update = ++at;
    at = digitsEnd(text, at);
    if (at == update) continue;
    version.feature = decimal(text.substr(feature, featureEnd - feature));
    version.update = decimal(text.substr(update, at - update));
    break;
  }
  return version;
}

std::wstring versionFromReport(const std::wstring& report) {
  // The text after the first 'java version "' that reads as "1", any one
  // character but a line end, then at least one character up to the next
  // quote (or the report's end).
  static const std::wstring lead = L"java version \"";
  for (size_t at = report.find(lead); at != std::wstring::npos; at = report.find(lead, at + 1)) {
    const size_t start = at + lead.size();
    if (report.size() - start < 3 || report[start] != L'1' || isLineEnd(report[start + 1]) ||
        report[start + 2] == L'"') {
      continue;
    }
    const size_t end = report.find(L'"', start + 2);
    return report.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
  }
  return std::wstring();
}

bool isOlderThanOldestAccepted(const std::wstring& versionText) {
  return std::wstring(kOldestJavaVersion).compare(versionText) > 0;
}

std::wstring comparableVersion(const std::wstring& versionText) {
  std::vector<int> n = numbersOf(versionText);
  if (n.empty()) return std::wstring();
  // "1.8.0_251": the feature follows the leading 1; "10.0.2" starts with it.
  size_t first = (n[0] == 1 && n.size() > 1) ? 1 : 0;
  int feature = n[first];
  int minor = n.size() > first + 1 ? n[first + 1] : 0;
  int update = n.size() > first + 2 ? n[first + 2] : 0;
  wchar_t buffer[32];
  std::swprintf(buffer, sizeof(buffer) / sizeof(buffer[0]), L"%05d.%05d.%05d", feature, minor, update);
  return buffer;
}
