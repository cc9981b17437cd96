#include "context/ContextText.h"

#include "app/OptionTable.h"
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
  // Matches the whole path against .*\[([^\]]*)\].*.exe without a regex
  // engine (which would weigh a good part of the installer): the greedy
  // prefix picks the last "[" whose group closes at a "]" followed by at
  // least one character and "exe" at the very end.
  const std::wstring& p = modulePath;
  const size_t n = p.size();
  if (n < 4 || p.compare(n - 3, 3, L"exe") != 0) return std::wstring();
  for (size_t open = p.rfind(L'['); open != std::wstring::npos; open = open ? p.rfind(L'[', open - 1) : std::wstring::npos) {
    size_t close = p.find(L']', open + 1);
    if (close != std::wstring::npos && n - (close + 1) >= 4) {
      // '.' in the pattern matches neither line break.
      bool plain = true;
      for (size_t i = 0; i < n && plain; ++i) plain = p[i] != L'\n' && p[i] != L'\r' && p[i] != 0x2028 && p[i] != 0x2029;
      if (!plain) return std::wstring();
      return p.substr(open + 1, close - open - 1);
    }
    if (open == 0) break;
  }
  return std::wstring();
}

std::wstring relaunchParameters(const std::vector<std::wstring>& tokens, bool keyOnCommandLine,
                                const std::wstring& key) {
  std::vector<std::wstring> args{L"/secondInstance"};
  args.insert(args.end(), tokens.begin(), tokens.end());
  if (!keyOnCommandLine && !key.empty()) {
    args.push_back(L"/installKey");
    args.push_back(key);
  }
  return joinArguments(args);
}

std::wstring switchFolderProblem(const std::wstring& folder, size_t maxLength) {
  std::wstring f = folder;
  while (f.size() > 3 && (f.back() == L'\\' || f.back() == L'/')) f.pop_back();
  if (f.empty()) return L"no folder is named";
  if (f.size() >= maxLength) {
    return L"the path has " + std::to_wstring(f.size()) + L" characters, at most " + std::to_wstring(maxLength - 1) +
           L" fit";
  }
  const bool drive = f.size() >= 3 && ((f[0] >= L'A' && f[0] <= L'Z') || (f[0] >= L'a' && f[0] <= L'z')) &&
                     f[1] == L':' && (f[2] == L'\\' || f[2] == L'/');
  const bool unc = f.size() > 2 && f[0] == L'\\' && f[1] == L'\\' && f[2] != L'?' && f[2] != L'.';
  if (!drive && !unc) return L"it is not a full path with a drive letter";
  for (size_t i = drive ? 3 : 2; i < f.size(); ++i) {
    const wchar_t c = f[i];
    if (c < 0x20 || c == L'<' || c == L'>' || c == L'"' || c == L'|' || c == L'?' || c == L'*' || c == L':') {
      return L"it holds a character Windows refuses in names";
    }
  }
  return std::wstring();
}

}  // namespace contexttext
