#include "context/Command.h"

#include "app/Log.h"

namespace {
constexpr unsigned kErrorInvalidParameter = 87;
constexpr unsigned kErrorFilenameTooLong = 206;
}  // namespace

CommandWithOneArg::CommandWithOneArg(const std::wstring& argument)
    : argument_(argument.substr(0, kArgumentCapacity - 1)), fits_(argument.size() < kArgumentCapacity) {}

int CommandWithOneArg::pack(wchar_t* out, size_t outSize, size_t& length) const {
  const std::wstring name = getName();
  length = 0;
  if (out == nullptr || outSize == 0) return -1;
  const size_t needed = name.size() + 1 + argument_.size();
  if (needed + 1 > outSize) {
    out[0] = L'\0';
    return -1;
  }
  name.copy(out, name.size());
  out[name.size()] = L'\0';
  argument_.copy(out + name.size() + 1, argument_.size());
  out[needed] = L'\0';
  length = needed;
  return int(name.size());
}

void CommandWithOneArg::describe(std::wstring& text) const {
  text += getName();
  text += L':';
  text += argument_;
}

void CommandWithOneArg::setResult(wchar_t* result, size_t resultSize, const std::wstring& text) {
  if (result == nullptr || resultSize == 0) return;
  const size_t n = text.size() < resultSize ? text.size() : resultSize - 1;
  text.copy(result, n);
  result[n] = L'\0';
}

bool CommandWithOneArg::refuseCutArgument(wchar_t* result, size_t resultSize, Log* log) const {
  if (fits_) return false;
  setResult(result, resultSize, std::to_wstring(kErrorFilenameTooLong));
  if (log) log->error(getName() + L": argument too long, refused: " + argument_);
  return true;
}

bool CommandWithOneArg::splitPaths(std::wstring& first, std::wstring& second, wchar_t* result, size_t resultSize,
                                   Log* log) const {
  if (refuseCutArgument(result, resultSize, log)) return false;
  const size_t bar = argument_.find(L'|');
  if (bar == std::wstring::npos) {
    setResult(result, resultSize, std::to_wstring(kErrorInvalidParameter));
    if (log) log->error(getName() + L": argument lacks '|': " + argument_);
    return false;
  }
  first = argument_.substr(0, bar);
  second = argument_.substr(bar + 1);
  if (first.size() >= kPathCapacity || second.size() >= kPathCapacity) {
    setResult(result, resultSize, std::to_wstring(kErrorFilenameTooLong));
    if (log) log->error(getName() + L": path too long, refused: " + argument_);
    return false;
  }
  return true;
}
