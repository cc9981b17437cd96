#pragma once
// The commands the context itself sends when it registers the product
// (uninstall entry, firewall exception). They live here, below the scenario
// that runs every other command; the native build reports them as not
// supported, like the scenario's Windows-only commands.
#include <string>

#include "context/Command.h"

// Argument: the install folder; writes "Path" and the uninstall entry under
// HKEY_LOCAL_MACHINE.
class AddUninstallInfoCommand : public CommandWithOneArg {
 public:
  using CommandWithOneArg::CommandWithOneArg;
  std::wstring getName() const override { return L"AddUninstallInfoCommand"; }
  void execute(wchar_t* result, size_t resultSize, Log* log) override;
};

// Argument: the full path of the program the firewall should allow. Result:
// the status of the firewall objects as signed decimal text.
// The firewall's COM classes by ProgID; tests name missing ones to reach the
// class-not-registered road on systems that have a firewall.
struct FirewallObjects {
  const wchar_t* manager = L"HNetCfg.FwMgr";
  const wchar_t* application = L"HNetCfg.FwAuthorizedApplication";
};

class FirewallAdd : public CommandWithOneArg {
 public:
  using Objects = FirewallObjects;
  explicit FirewallAdd(const std::wstring& programPath, Objects objects = Objects())
      : CommandWithOneArg(programPath), objects_(objects) {}
  std::wstring getName() const override { return L"FIREWALL_ADD_COMMAND"; }
  void execute(wchar_t* result, size_t resultSize, Log* log) override;

 private:
  Objects objects_;
};
