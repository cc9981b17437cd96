#pragma once
// An InstallTestSystem whose registry, files and version the test writes,
// and which records which registry view each question used.
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "pinstall/InstallTests.h"

namespace pinstalltest {

class FakeInstallTestSystem : public pinstall::InstallTestSystem {
 public:
  using Key = std::tuple<pinstall::RegRoot, std::wstring, std::wstring, pinstall::RegView>;

  std::map<Key, std::wstring> texts;
  std::map<Key, uint32_t> dwords;
  std::map<std::pair<pinstall::RegRoot, std::wstring>, bool> keys;
  std::map<std::wstring, pinstall::PathKind> paths;
  std::map<std::wstring, std::wstring> folders{{L"windir", L"C:\\windows"}, {L"localappdata", L"C:\\users\\u\\AppData\\Local"}};
  int major = 6, minor = 1, servicePack = 1;
  std::vector<std::wstring> asked;  // "text:0", "dword:64", "key", "path:<path>"

  std::wstring regText(pinstall::RegRoot root, const std::wstring& subKey, const std::wstring& name,
                       pinstall::RegView view) override {
    asked.push_back(view == pinstall::RegView::k64 ? L"text:64" : L"text:0");
    auto it = texts.find(Key(root, subKey, name, view));
    return it == texts.end() ? std::wstring() : it->second;
  }
  uint32_t regDword(pinstall::RegRoot root, const std::wstring& subKey, const std::wstring& name,
                    pinstall::RegView view) override {
    asked.push_back(view == pinstall::RegView::k64 ? L"dword:64" : L"dword:0");
    auto it = dwords.find(Key(root, subKey, name, view));
    return it == dwords.end() ? 0 : it->second;
  }
  bool regKeyOpens(pinstall::RegRoot root, const std::wstring& subKey) override {
    asked.push_back(L"key");
    return keys.count({root, subKey}) > 0;
  }
  pinstall::PathKind pathKind(const std::wstring& path) override {
    asked.push_back(L"path:" + path);
    auto it = paths.find(path);
    return it == paths.end() ? pinstall::PathKind::kMissing : it->second;
  }
  std::wstring placeholderFolder(const std::wstring& name) override {
    auto it = folders.find(name);
    return it == folders.end() ? std::wstring() : it->second;
  }
  bool versionAtLeast(int wantMajor, int wantMinor, int wantServicePack) override {
    if (major != wantMajor) return major > wantMajor;
    if (minor != wantMinor) return minor > wantMinor;
    return servicePack >= wantServicePack;
  }
};

}  // namespace pinstalltest
