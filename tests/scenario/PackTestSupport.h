#pragma once
// Shared by the pack tests: a sink that keeps entries in memory.
#include <cstdint>
#include <map>
#include <string>

#include "scenario/Un8z.h"

namespace packtest {

class RecordingSink : public un8z::EntrySink {
 public:
  bool beginEntry(const std::wstring& name, uint64_t size) override {
    current_ = name;
    announced_[name] = size;
    entries[name].clear();
    order += name + L";";
    return acceptEntries;
  }
  bool writeBytes(const uint8_t* data, size_t size) override {
    entries[current_].append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  bool endEntry() override { return entries[current_].size() == announced_[current_]; }

  std::map<std::wstring, std::string> entries;
  std::wstring order;
  bool acceptEntries = true;

 private:
  std::wstring current_;
  std::map<std::wstring, uint64_t> announced_;
};

}  // namespace packtest
