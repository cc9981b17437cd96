#include "context/ContextText.h"

#include <regex>

#include "app/Text.h"

namespace contexttext {

std::wstring versionText(const std::wstring& prefix, const char* buildDate, const char* buildTime) {
  std::wstring text = prefix + text::toWide(buildDate) + L"_" + text::toWide(buildTime);
  for (size_t i = 1; i < text.size(); ++i)
    if (text[i] == L' ' || text[i] == L':') text[i] = L'_';
  if (text.size() > 63) text.resize(63);
  return text;
}

std::wstring installKeyFromFileName(const std::wstring& modulePath) {
  static const std::wregex pattern(L".*\\[([^\\]]*)\\].*.exe");
  std::wsmatch match;
  if (std::regex_match(modulePath, match, pattern)) return match[1].str();
  return std::wstring();
}

}  // namespace contexttext
