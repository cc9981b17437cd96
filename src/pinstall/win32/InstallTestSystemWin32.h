#pragma once
// The Windows answers to the install tests' questions: the registry in the
// default and the 64-bit view, file attributes with file-system redirection
// switched off, the known folders and the system's version check.
//
// Stateless; any thread may use it.
#include "pinstall/InstallTests.h"

namespace pinstall {

class InstallTestSystemWin32 : public InstallTestSystem {
 public:
  std::wstring regText(RegRoot root, const std::wstring& subKey, const std::wstring& name, RegView view) override;
  uint32_t regDword(RegRoot root, const std::wstring& subKey, const std::wstring& name, RegView view) override;
  bool regKeyOpens(RegRoot root, const std::wstring& subKey) override;
  PathKind pathKind(const std::wstring& path) override;
  std::wstring placeholderFolder(const std::wstring& name) override;
  bool versionAtLeast(int major, int minor, int servicePackMajor) override;
};

// The one instance the installer uses.
InstallTestSystem& windowsInstallTestSystem();

}  // namespace pinstall
