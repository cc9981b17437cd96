#include <vector>

#include "app/Log.h"
#include "app/win32/Registry.h"
#include "context/SystemCommands.h"

namespace {

const wchar_t kProductKey[] = L"SOFTWARE\\Vexa";
const wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vexa";

struct Value {
  const wchar_t* key;
  const wchar_t* name;
  std::wstring text;  // used when isNumber is false
  DWORD number;
  bool isNumber;
};

// The uninstall string is run as a command line: a path with a blank must be
// quoted or Windows tries "C:\Program" first. Paths without one (the 8.3
// form the installer passes) stay exactly as they are.
std::wstring quotedIfBlank(const std::wstring& path) {
  return path.find(L' ') == std::wstring::npos ? path : L"\"" + path + L"\"";
}

std::vector<Value> valuesFor(const std::wstring& folder) {
  return {
      {kProductKey, L"Path", folder, 0, false},
      {kUninstallKey, L"DisplayName", L"Vexa", 0, false},
      {kUninstallKey, L"Publisher", L"Vexa Team", 0, false},
      {kUninstallKey, L"EstimatedSize", L"", 30720, true},
      {kUninstallKey, L"DisplayIcon", folder + L"\\Vexa.exe", 0, false},
      {kUninstallKey, L"UninstallString", quotedIfBlank(folder + L"\\uninstall.exe"), 0, false},
      {kUninstallKey, L"NoModify", L"", 1, true},
      {kUninstallKey, L"NoRepair", L"", 1, true},
  };
}

}  // namespace

// Every value is attempted; if any write fails the result is the access
// error "5", so the caller sees that the product is not fully registered.
void AddUninstallInfoCommand::execute(wchar_t* result, size_t resultSize, Log* log) {
  if (refuseCutArgument(result, resultSize, log)) return;
  bool allWritten = true;
  for (const Value& v : valuesFor(argument())) {
    const bool written = v.isNumber ? registry::writeDword(HKEY_LOCAL_MACHINE, v.key, v.name, v.number)
                                    : registry::writeText(HKEY_LOCAL_MACHINE, v.key, v.name, v.text);
    if (!written) {
      allWritten = false;
      if (log) log->error(std::wstring(L"Can't write HKLM\\") + v.key + L" " + v.name);
    }
  }
  if (!allWritten) setResult(result, resultSize, L"5");
}
