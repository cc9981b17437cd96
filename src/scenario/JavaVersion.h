#pragma once
// Java version texts as runtimes and the registry give them, and the orders
// the runtime choice needs. Portable; no shared state.
#include <string>

struct JavaVersion {
  std::wstring text;  // as found, e.g. "1.8.0_251"
  int feature = 0;    // the number after "1."
  int update = 0;     // the number after "_"
};

// Applies "1\.([0-9]+)\.([0-9]+)_([0-9]+)"; the numbers stay 0 when the
// text does not match.
JavaVersion parseJavaVersion(const std::wstring& text);

// The text inside the quotes of a runtime's "-version" report
// (java version "1.x..."), or empty.
std::wstring versionFromReport(const std::wstring& report);

// The oldest runtime the product accepts is "1.6", compared with the version
// text character by character (a prefix is smaller). "10" passes: '.' sorts
// below '0'.
constexpr const wchar_t* kOldestJavaVersion = L"1.6";
bool isOlderThanOldestAccepted(const std::wstring& versionText);

// A text whose ordinal order is the order of Java versions: the legacy
// "1.x.y_z" scheme and the later "x.y.z" one both map to zero-padded
// feature, minor and update numbers, so 1.8.0_251 > 1.8.0_45 > 1.7.0_80 and
// 10 > 1.8.0_251. Empty when the text holds no number.
std::wstring comparableVersion(const std::wstring& versionText);
