#pragma once
// The active localised texts. Only the hash of each key is kept; a lookup of
// a key the table lacks answers with the key itself, so a missing translation
// is visible but harmless.
//
// Threading: built once on the main thread, then only read.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

class StringTable {
 public:
  StringTable() = default;
  // Decodes UTF-8 (a leading byte-order mark is skipped by the parser) and
  // parses key=text lines. No bytes give an empty table.
  static StringTable build(const char* bytes, size_t count, int languageId);

  // The entry text, or the key itself when the table has no entry for it.
  std::wstring lookup(const std::wstring& key) const;
  int languageId() const { return languageId_; }
  size_t size() const { return entries_.size(); }

  static int32_t hashKey(const std::wstring& key);
  // 0x0419 (Russian) -> 103, 0x0422 (Ukrainian) -> 105, else 104 (English).
  static int resourceIdForLanguage(int languageId);

 private:
  class Parser;
  std::map<int32_t, std::wstring> entries_;
  int languageId_ = 0;
};
