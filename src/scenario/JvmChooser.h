#pragma once
// The choice of the Java runtime the product will run on: candidates from
// the private location or the registry, duplicates dropped, each tested for
// its version and its architecture, split into its client and server JVMs,
// and the highest version chosen. Portable: what it learns of the machine
// comes through JvmDiscovery, which the product implements on the registry
// and the file system and tests implement by hand.
//
// Threading: one chooser per search, used by one thread.
#include <memory>
#include <string>
#include <vector>

class Log;

// Kinds of candidate source (m_javaBundle).
constexpr const wchar_t* kJdkBundle = L"JDK";
constexpr const wchar_t* kJreBundle = L"JRE";
constexpr const wchar_t* kPrivateBundle = L"private";

struct JVMInfo {
  std::wstring m_javaBundle;
  std::wstring m_binJvmDir;
  std::wstring m_version;
  std::wstring m_comparableVersion;
  std::wstring m_jvmPath;
  std::wstring m_javaHomePath;
  std::wstring m_jrePath;
  bool m_acceptable = false;

  // The form used in log lines.
  std::wstring description() const;
};

// The candidate set a search leaves in the install context for the next one.
struct JVMProperties {
  std::vector<JVMInfo> candidates;  // what was left after the choice's tests
  bool chosen = false;
  JVMInfo choice;
};

class JvmDiscovery {
 public:
  virtual ~JvmDiscovery() = default;
  // Runtimes registered in the system, in key order then enumeration order;
  // each has its bundle kind, Java home and version text (the sub-key name).
  virtual std::vector<JVMInfo> registryRuntimes() = 0;
  // The runtime kept in location + "\jre", after asking it for its version;
  // false when there is none.
  virtual bool privateRuntime(const std::wstring& location, JVMInfo& runtime) = 0;
  virtual bool isFile(const std::wstring& path) = 0;
  // The whole file; false when it cannot be read.
  virtual bool readFile(const std::wstring& path, std::string& bytes) = 0;
  // Runs the architecture class of the archive with the runtime's javaw and
  // gives its exit code.
  virtual int runArchitectureProbe(const std::wstring& javaHome, const std::wstring& archivePath) = 0;
};

class JVMChooser {
 public:
  static constexpr int kThirtyTwoBitExitCode = 32;
  static constexpr const char* kArchClassEntry = "ru/dravimol/core/JavaArch.class";

  // utilsJarPath: the launcher utility archive holding the architecture class.
  JVMChooser(Log* log, JvmDiscovery& discovery, std::wstring utilsJarPath);

  // With a private location only the private runtime is a candidate;
  // without one (empty) the registry's runtimes are. Fills properties and
  // returns whether a runtime was chosen.
  bool choose(const std::wstring& privateLocation, JVMProperties& properties);

 private:
  void removeCopyBinJvmDirs(std::vector<JVMInfo>& jvms);
  void breakoutBinJvmDirs(std::vector<JVMInfo>& jvms);
  bool passesArchitectureTest(const JVMInfo& jvm);
  void info(const std::wstring& line);
  void error(const std::wstring& line);

  Log* log_;
  JvmDiscovery& discovery_;
  std::wstring utilsJarPath_;
};
