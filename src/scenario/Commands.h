#pragma once
// The installer's commands. Names are the fixed texts that appear in the log
// and in the packed form. UnEbzCommand and CreateFolderCommand run on every
// platform; the others act through Windows facilities (shell file
// operations, processes, resources, registry, firewall) and, in the native
// test build, report "50" (not supported) without touching anything.
#include <memory>

#include "scenario/Command.h"

namespace packfiles {
class PackFile;
}

// Argument: a command line. Result: the exit code, or the negative codes of
// a process that cannot be started (-5) or whose exit code cannot be read.
class ExecuteProcessCommand : public CommandWithOneArg {
 public:
  using CommandWithOneArg::CommandWithOneArg;
  std::wstring getName() const override { return L"ExecuteProcessCommand"; }
  void execute(wchar_t* result, size_t resultSize, Log* log) override;
};

// Argument: pack path + "|" + destination folder. Result "2" for a missing
// pack, "1" for one that cannot be unpacked.
class UnEbzCommand : public CommandWithOneArg {
 public:
  using CommandWithOneArg::CommandWithOneArg;
  // Unpacks from a pack the caller holds open (and may have checked) instead
  // of opening the path again: a check by path and an unpack by path could
  // each see another file. The argument still names it, for the log.
  UnEbzCommand(const std::wstring& argument, std::shared_ptr<packfiles::PackFile> held)
      : CommandWithOneArg(argument), held_(std::move(held)) {}
  std::wstring getName() const override { return L"UNEBZ_COMMAND"; }
  void execute(wchar_t* result, size_t resultSize, Log* log) override;

 private:
  std::shared_ptr<packfiles::PackFile> held_;
};

// Argument: a folder path, created with every missing parent. Result: the
// system's error code on failure.
class CreateFolderCommand : public CommandWithOneArg {
 public:
  using CommandWithOneArg::CommandWithOneArg;
  std::wstring getName() const override { return L"CRT_FLD_CMD"; }
  void execute(wchar_t* result, size_t resultSize, Log* log) override;
};

// Argument: a file or folder, removed recursively by the shell.
class DeleteCommand : public CommandWithOneArg {
 public:
  using CommandWithOneArg::CommandWithOneArg;
  static constexpr unsigned kShellFlags = 0x0C14;
  std::wstring getName() const override { return L"DELETE_COMMAND"; }
  void execute(wchar_t* result, size_t resultSize, Log* log) override;
};

// Argument: source (wildcards allowed) + "|" + destination folder.
class CopyCommand : public CommandWithOneArg {
 public:
  using CommandWithOneArg::CommandWithOneArg;
  static constexpr unsigned kShellFlags = 0x0E14;
  std::wstring getName() const override { return L"COPY_COMMAND"; }
  void execute(wchar_t* result, size_t resultSize, Log* log) override;
};

// Argument: a folder that receives utils.jar and the three licence texts.
// Missing resources are logged but never change the result.
class ExtractUtilsJarCommand : public CommandWithOneArg {
 public:
  using CommandWithOneArg::CommandWithOneArg;
  std::wstring getName() const override { return L"ExtractUtilsJarCommand"; }
  void execute(wchar_t* result, size_t resultSize, Log* log) override;
};

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
