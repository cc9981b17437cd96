#include "scenario/Un8z.h"

#include <cwctype>
#include <vector>

#include "app/Text.h"
#include "download/FileNames.h"

namespace un8z {

namespace {

bool isSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

}  // namespace

bool safeRelativeName(const std::string& utf8Name, wchar_t separator, std::wstring& out) {
  out.clear();
  const std::wstring name = text::utf8ToWide(utf8Name);
  if (name.empty() || isSeparator(name[0])) return false;
  std::vector<std::wstring> segments;
  std::wstring segment;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && !isSeparator(name[i])) {
      segment += name[i];
      continue;
    }
    if (segment.empty() || segment == L".") {
      segment.clear();
      continue;
    }
    // The same rule as for the names servers give downloads: no segment made
    // of dots and blanks (Windows drops those, so ". ." could still climb),
    // no ':' (drives, streams), no device name in any spelling Windows takes.
    if (!download::isSafeFileName(segment)) return false;
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
  // Counted before the sink sees the entry: each one costs a file, whatever its size.
  if (entries_ >= maxEntries_) {
    return fail(L"Pack has more than " + std::to_wstring(maxEntries_) + L" entries, the most an install takes");
  }
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
