#include "app/StringTable.h"

#include <cwctype>

#include "app/Text.h"

// A three-state machine over the decoded text. The shipped tables depend on
// its quirks (blanks after "=" belong to the text, the first key wins, a
// line without "=" bleeds into the next key), so it is kept exactly so.
class StringTable::Parser {
 public:
  explicit Parser(StringTable& table) : table_(table) {}

  void run(const std::wstring& text) {
    for (size_t i = 0; i < text.size(); ++i) {
      wchar_t c = text[i];
      if (c == 0) break;
      pos_ = i;
      (this->*state_)(c, text);
    }
    store(text);
  }

 private:
  using State = void (Parser::*)(wchar_t, const std::wstring&);

  static bool isSpace(wchar_t c) { return std::iswspace(static_cast<wint_t>(c)) != 0; }

  void keyState(wchar_t c, const std::wstring&) {
    if (c == L'=') {
      valueStart_ = npos;
      valueLength_ = 0;
      state_ = &Parser::valueState;
    } else if (c == L'#') {
      state_ = &Parser::commentState;
    } else if (isSpace(c) || c == 0xFEFF) {
    } else {
      if (keyStart_ == npos) keyStart_ = pos_;
      ++keyLength_;
    }
  }

  void valueState(wchar_t c, const std::wstring& text) {
    if (c == L'\n') {
      store(text);
      state_ = &Parser::keyState;
    } else if (c != L' ' && isSpace(c)) {
    } else {
      if (valueStart_ == npos) valueStart_ = pos_;
      ++valueLength_;
    }
  }

  void commentState(wchar_t c, const std::wstring& text) {
    if (c == L'\n') {
      store(text);
      state_ = &Parser::keyState;
    }
  }

  void store(const std::wstring& text) {
    if (keyStart_ != npos && keyLength_ > 0 && valueStart_ != npos && valueLength_ > 0) {
      std::wstring key = text.substr(keyStart_, keyLength_);
      std::wstring value = text.substr(valueStart_, valueLength_);
      table_.entries_.emplace(StringTable::hashKey(key), std::move(value));
    }
    keyStart_ = valueStart_ = npos;
    keyLength_ = valueLength_ = 0;
  }

  static constexpr size_t npos = static_cast<size_t>(-1);
  StringTable& table_;
  State state_ = &Parser::keyState;
  size_t pos_ = 0;
  size_t keyStart_ = npos, keyLength_ = 0;
  size_t valueStart_ = npos, valueLength_ = 0;
};

StringTable StringTable::build(const char* bytes, size_t count, int languageId) {
  StringTable table;
  table.languageId_ = languageId;
  if (!bytes || count == 0) return table;
  Parser(table).run(text::utf8ToWide(bytes, count));
  return table;
}

std::wstring StringTable::lookup(const std::wstring& key) const {
  auto it = entries_.find(hashKey(key));
  if (it == entries_.end() || it->second.empty()) return key;
  return it->second;
}

int32_t StringTable::hashKey(const std::wstring& key) {
  uint32_t h = 0;
  for (char16_t unit : text::toUtf16(key)) h = h * 31u + unit;
  return static_cast<int32_t>(h);
}

int StringTable::resourceIdForLanguage(int languageId) {
  if (languageId == 0x0419) return 103;
  if (languageId == 0x0422) return 105;
  return 104;
}
