#pragma once
// The installer's registry access: reads never fail loudly (missing keys and
// values read as empty or 0), writes report only whether they succeeded.
#include <windows.h>

#include <string>

namespace registry {

// Owns an open HKEY and closes it.
class RegKey {
 public:
  RegKey() = default;
  explicit RegKey(HKEY key) : key_(key) {}
  ~RegKey() { reset(); }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  RegKey(RegKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
  RegKey& operator=(RegKey&& other) noexcept {
    if (this != &other) { reset(); key_ = other.key_; other.key_ = nullptr; }
    return *this;
  }

  static RegKey openRead(HKEY root, const std::wstring& subKey, REGSAM extra = 0);
  static RegKey createWritable(HKEY root, const std::wstring& subKey);

  HKEY get() const { return key_; }
  explicit operator bool() const { return key_ != nullptr; }
  void reset() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
  }

 private:
  HKEY key_ = nullptr;
};

// Reads a text value with a 1024-byte data buffer; REG_SZ, REG_EXPAND_SZ
// (expanded), REG_BINARY and REG_MULTI_SZ are taken as text. A value that does
// not fit capacity characters (terminator included) reads as empty.
std::wstring readText(HKEY key, const std::wstring& name, size_t capacity = 2048);
std::wstring readText(HKEY root, const std::wstring& subKey, const std::wstring& name,
                      size_t capacity = 2048);
// Only REG_DWORD values are taken; anything else reads as 0.
DWORD readDword(HKEY key, const std::wstring& name);

bool writeText(HKEY root, const std::wstring& subKey, const std::wstring& name, const std::wstring& value);
bool writeDword(HKEY root, const std::wstring& subKey, const std::wstring& name, DWORD value);
bool deleteValue(HKEY root, const std::wstring& subKey, const std::wstring& name);

}  // namespace registry
