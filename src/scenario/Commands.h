#pragma once
// The installer's commands. Names are the fixed texts that appear in the log
// and in the packed form. UnEbzCommand and CreateFolderCommand run on every
// platform; the others act through Windows facilities (shell file
// operations, processes, resources, registry, firewall) and, in the native
// test build, report "50" (not supported) without touching anything.
#include <memory>

#include "context/Command.h"
#include "context/SystemCommands.h"
#include "scenario/PackFiles.h"

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
  // Why writing the entries stopped, after a result "1"; empty when the
  // pack itself was the trouble.
  const packfiles::WriteFault& writeFault() const { return fault_; }

 private:
  std::shared_ptr<packfiles::PackFile> held_;
  packfiles::WriteFault fault_;
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
