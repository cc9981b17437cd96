#include "app/win32/Registry.h"

#include <vector>

namespace registry {

RegKey RegKey::openRead(HKEY root, const std::wstring& subKey, REGSAM extra) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ | extra, &key) != ERROR_SUCCESS) return RegKey();
  return RegKey(key);
}

RegKey RegKey::createWritable(HKEY root, const std::wstring& subKey) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                      &key, nullptr) != ERROR_SUCCESS)
    return RegKey();
  return RegKey(key);
}

std::wstring readText(HKEY key, const std::wstring& name, size_t capacity) {
  if (!key) return std::wstring();
  // 1024 bytes of data hold 511 characters and their terminator; the spare
  // zeros behind them end a value stored without one.
  constexpr DWORD kDataBytes = 1024;
  BYTE data[kDataBytes + sizeof(wchar_t)] = {};
  DWORD size = kDataBytes;
  DWORD type = 0;
  if (RegQueryValueExW(key, name.c_str(), nullptr, &type, data, &size) != ERROR_SUCCESS) return std::wstring();
  if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_BINARY && type != REG_MULTI_SZ) return std::wstring();
  std::wstring value(reinterpret_cast<const wchar_t*>(data), size / sizeof(wchar_t));
  while (!value.empty() && value.back() == L'\0') value.pop_back();
  if (type == REG_EXPAND_SZ) {
    std::vector<wchar_t> expanded(2048, 0);
    DWORD n = ExpandEnvironmentStringsW(value.c_str(), expanded.data(), static_cast<DWORD>(expanded.size()));
    if (n == 0 || n > expanded.size()) return std::wstring();
    value.assign(expanded.data());
  }
  if (value.size() + 1 > capacity) return std::wstring();
  return value;
}

std::wstring readText(HKEY root, const std::wstring& subKey, const std::wstring& name, size_t capacity) {
  RegKey key = RegKey::openRead(root, subKey);
  return readText(key.get(), name, capacity);
}

DWORD readDword(HKEY key, const std::wstring& name) {
  DWORD value = 0, size = sizeof(value), type = 0;
  if (!key || RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
                  ERROR_SUCCESS || type != REG_DWORD)
    return 0;
  return value;
}

bool writeText(HKEY root, const std::wstring& subKey, const std::wstring& name, const std::wstring& value) {
  RegKey key = RegKey::createWritable(root, subKey);
  if (!key) return false;
  const wchar_t* valueName = name.empty() ? nullptr : name.c_str();
  return RegSetValueExW(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool writeDword(HKEY root, const std::wstring& subKey, const std::wstring& name, DWORD value) {
  RegKey key = RegKey::createWritable(root, subKey);
  if (!key) return false;
  return RegSetValueExW(key.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof(value)) == ERROR_SUCCESS;
}

bool deleteValue(HKEY root, const std::wstring& subKey, const std::wstring& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return false;
  RegKey owner(key);
  return RegDeleteValueW(key, name.c_str()) == ERROR_SUCCESS;
}

}  // namespace registry
