#include "scenario/Un8z.h"

#include <cwctype>
#include <vector>

#include "app/Text.h"

namespace un8z {

namespace {

bool isSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

bool allDots(const std::wstring& segment) {
  for (wchar_t c : segment) {
    if (c != L'.') return false;
  }
  return true;
}

// Windows opens devices for these names in any folder and with any extension.
bool isDeviceName(const std::wstring& segment) {
  std::wstring base = segment.substr(0, segment.find(L'.'));
  while (!base.empty() && base.back() == L' ') base.pop_back();
  for (auto& c : base) c = wchar_t(std::towupper(c));
  static const wchar_t* const kFixed[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
  for (const wchar_t* name : kFixed) {
    if (base == name) return true;
  }
  if (base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0)) {
    return base[3] >= L'0' && base[3] <= L'9';
  }
  return false;
}

}  // namespace

bool safeRelativeName(const std::string& utf8Name, wchar_t separator, std::wstring& out) {
  out.clear();
  const std::wstring name = text::utf8ToWide(utf8Name);
  if (name.empty() || isSeparator(name[0])) return false;
  std::vector<std::wstring> segments;
  std::wstring segment;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && !isSeparator(name[i])) {
      wchar_t c = name[i];
      if (c == L'\0' || c == L':') return false;
      segment += c;
      continue;
    }
    if (segment.empty() || segment == L".") {
      segment.clear();
      continue;
    }
    // Windows drops trailing dots and blanks from a path segment, so ". ."
    // or "..." could still climb; refuse every segment made of nothing else.
    std::wstring trimmed = segment;
    while (!trimmed.empty() && (trimmed.back() == L' ' || trimmed.back() == L'.')) trimmed.pop_back();
    if (trimmed.empty() || allDots(segment) || isDeviceName(segment)) return false;
    segments.push_back(segment);
    segment.clear();
  }
  if (segments.empty()) return false;
  for (size_t i = 0; i < segments.size(); ++i) {
    if (i) out += separator;
    out += segments[i];
  }
  return true;
}

LengthReader::Step LengthReader::take(uint8_t byte) {
  if (byte == ':') return digits_ == 0 ? Step::kFailed : Step::kDone;
  if (byte < '0' || byte > '9') return Step::kFailed;
  const uint64_t digit = byte - '0';
  if (value_ > (limit_ - digit) / 10) return Step::kFailed;
  value_ = value_ * 10 + digit;
  // Leading zeros are harmless but must not let a length run on forever.
  if (++digits_ > 40) return Step::kFailed;
  return Step::kNeedMore;
}

void NameState::reset() {
  length_.reset();
  inName_ = false;
  name_.clear();
}

State::Step NameState::consume(const uint8_t* data, size_t size, size_t& used, EntryParser& parser) {
  used = 0;
  while (!inName_) {
    if (used == size) return Step::kNeedMore;
    switch (length_.take(data[used++])) {
      case LengthReader::Step::kNeedMore:
        break;
      case LengthReader::Step::kFailed:
        parser.fail(L"Bad name length in pack entry " + std::to_wstring(parser.entryCount() + 1));
        return Step::kFailed;
      case LengthReader::Step::kDone:
        inName_ = true;
        break;
    }
  }
  const size_t want = size_t(length_.value()) - name_.size();
  const size_t take = want < size - used ? want : size - used;
  name_.append(reinterpret_cast<const char*>(data + used), take);
  used += take;
  if (name_.size() < length_.value()) return Step::kNeedMore;
  const bool accepted = parser.nameComplete(name_);
  reset();
  return accepted ? Step::kDone : Step::kFailed;
}

void ValueState::reset() {
  length_.reset();
  inData_ = false;
  remaining_ = 0;
}

State::Step ValueState::consume(const uint8_t* data, size_t size, size_t& used, EntryParser& parser) {
  used = 0;
  while (!inData_) {
    if (used == size) return Step::kNeedMore;
    switch (length_.take(data[used++])) {
      case LengthReader::Step::kNeedMore:
        break;
      case LengthReader::Step::kFailed:
        parser.fail(L"Bad data length in pack entry " + std::to_wstring(parser.entryCount() + 1));
        return Step::kFailed;
      case LengthReader::Step::kDone:
        inData_ = true;
        remaining_ = length_.value();
        if (!parser.dataBegins(remaining_)) return Step::kFailed;
        break;
    }
  }
  const size_t take = remaining_ < size - used ? size_t(remaining_) : size - used;
  if (take != 0 && !parser.dataBytes(data + used, take)) return Step::kFailed;
  used += take;
  remaining_ -= take;
  if (remaining_ != 0) return Step::kNeedMore;
  reset();
  return parser.dataEnds() ? Step::kDone : Step::kFailed;
}

bool EntryParser::fail(const std::wstring& why) {
  if (!failed_) error_ = why;
  failed_ = true;
  return false;
}

bool EntryParser::nameComplete(const std::string& utf8Name) {
  if (!safeRelativeName(utf8Name, separator_, entryName_)) {
    return fail(L"Refused pack entry '" + text::utf8ToWide(utf8Name) + L"': it would land outside the destination");
  }
  return true;
}

bool EntryParser::dataBegins(uint64_t size) {
  if (!sink_.beginEntry(entryName_, size)) return fail(L"Can't write pack entry '" + entryName_ + L"'");
  return true;
}

bool EntryParser::dataBytes(const uint8_t* data, size_t size) {
  if (!sink_.writeBytes(data, size)) return fail(L"Can't write pack entry '" + entryName_ + L"'");
  return true;
}

bool EntryParser::dataEnds() {
  if (!sink_.endEntry()) return fail(L"Can't write pack entry '" + entryName_ + L"'");
  ++entries_;
  return true;
}

bool EntryParser::feed(const uint8_t* data, size_t size) {
  while (!failed_ && size != 0) {
    size_t used = 0;
    const State::Step step = current_->consume(data, size, used, *this);
    if (step == State::Step::kFailed) return fail(L"Malformed pack entry");
    data += used;
    size -= used;
    if (step == State::Step::kDone) current_ = current_ == &name_ ? static_cast<State*>(&value_) : &name_;
  }
  return !failed_;
}

bool EntryParser::finish() {
  if (failed_) return false;
  if (current_ != &name_ || !name_.atStart()) {
    return fail(L"Pack stream ends inside entry " + std::to_wstring(entries_ + 1));
  }
  return true;
}

}  // namespace un8z
