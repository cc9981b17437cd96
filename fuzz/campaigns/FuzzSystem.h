#pragma once
// A machine for the fuzzers whose answers depend only on the question, so
// every branch of the testers and the date rule is reachable and each run
// repeats.
#include <cstdint>
#include <string>

#include "pinstall/InstallTests.h"

namespace fuzzsupport {

inline uint32_t hash(const std::wstring& s) {
  uint32_t h = 2166136261u;
  for (wchar_t c : s) h = (h ^ static_cast<uint32_t>(c)) * 16777619u;
  return h;
}

class FuzzSystem : public pinstall::InstallTestSystem {
 public:
  std::wstring regText(pinstall::RegRoot root, const std::wstring& subKey, const std::wstring& name,
                       pinstall::RegView view) override {
    uint32_t h = hash(subKey + L"|" + name) ^ static_cast<uint32_t>(root) ^ (view == pinstall::RegView::k64 ? 7u : 0u);
    return (h & 3) == 0 ? std::wstring(h % 40, L'x') : std::wstring();
  }
  uint32_t regDword(pinstall::RegRoot, const std::wstring& subKey, const std::wstring& name,
                    pinstall::RegView view) override {
    uint32_t h = hash(subKey + name);
    return view == pinstall::RegView::k64 ? h % 3 : h % 5;
  }
  bool regKeyOpens(pinstall::RegRoot, const std::wstring& subKey) override { return hash(subKey) & 1; }
  pinstall::PathKind pathKind(const std::wstring& path) override {
    return static_cast<pinstall::PathKind>(hash(path) % 3);
  }
  std::wstring placeholderFolder(const std::wstring& name) override {
    if (name == L"windir") return L"C:\\windows";
    if (name == L"localappdata") return L"C:\\users\\u\\AppData\\Local";
    return std::wstring();
  }
  bool versionAtLeast(int major, int minor, int) override { return major < 10 && minor < 3; }
};

}  // namespace fuzzsupport
