#include "scenario/JavaVersion.h"

#include <cwchar>
#include <regex>
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

}  // namespace

JavaVersion parseJavaVersion(const std::wstring& text) {
  JavaVersion version;
  version.text = text;
  static const std::wregex pattern(L"1\\.([0-9]+)\\.([0-9]+)_([0-9]+)", std::regex::ECMAScript);
  std::wsmatch match;
  if (std::regex_search(text, match, pattern)) {
    version.feature = decimal(match[1].str());
    version.update = decimal(match[3].str());
  }
  return version;
}

std::wstring versionFromReport(const std::wstring& report) {
  static const std::wregex pattern(L"java version \"(1.[^\"]+)", std::regex::ECMAScript);
  std::wsmatch match;
  if (std::regex_search(report, match, pattern)) return match[1].str();
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
