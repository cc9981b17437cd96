#pragma once
// What the runtime choice learns of this machine: the runtimes registered
// under HKEY_LOCAL_MACHINE, the private runtime (asked for its version), and
// the architecture probe run with a runtime's javaw.
//
// The installer is a 32-bit program and opens the keys in its default view:
// on a 64-bit system both the plain and the "Wow6432Node" paths then lead
// to the 32-bit registrations, which are the only ones the product can run
// on; the copies this yields are dropped by the choice's duplicate removal.
//
// Threading: one instance per search, used by one thread.
#include "scenario/JvmChooser.h"

class WindowsJvmDiscovery : public JvmDiscovery {
 public:
  explicit WindowsJvmDiscovery(Log* log) : log_(log) {}

  std::vector<JVMInfo> registryRuntimes() override;
  bool privateRuntime(const std::wstring& location, JVMInfo& runtime) override;
  bool isFile(const std::wstring& path) override;
  bool readFile(const std::wstring& path, std::string& bytes) override;
  int runArchitectureProbe(const std::wstring& javaHome, const std::wstring& archivePath) override;

 private:
  void addRegistered(const wchar_t* key, const wchar_t* bundle, std::vector<JVMInfo>& runtimes);

  Log* log_;
};
