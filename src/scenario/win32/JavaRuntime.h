#pragma once
// The Java runtime the product runs on: the private one in the install
// folder, or one registered in the system, or the packed runtime fetched and
// unpacked on a thread of its own beside the pack downloads.
#include <windows.h>

#include <cstdint>
#include <string>

#include "context/InstallFailure.h"
#include "download/Timing.h"

class VexaInstallContext;
namespace pack_signature {
class PackVerifier;
}
namespace download {
class IDownloadListener;
}

// What the runtime thread needs of the scenario that started it.
// Threading: called on the runtime thread.
class JreInstallHost {
 public:
  virtual ~JreInstallHost() = default;
  // The scenario listener's onStageProgress (nothing while none is set).
  virtual void stageProgress(int stage, int percent, float exactPercent) = 0;
  // Receives the runtime download's reports (name "jreEbz", id kRuntimeId).
  virtual download::IDownloadListener& runtimeDownloadListener() = 0;
  // True once the install is being cancelled: downloads stop, nothing new starts.
  virtual bool installCancelled() = 0;
  // No usable runtime after the final search. The wizard shows the Java
  // error dialog; a silent install only logs the text at ERROR.
  virtual void reportJavaMissing() = 0;
  // Why the runtime's download failed, as its report said; none when it did not.
  virtual failure::Failure runtimeDownloadFailure() = 0;
};

// Starts the runtime thread "installJreFunc". Returns null when a private
// runtime is already present (stage 0 is then reported as 100). The caller
// waits for and closes the handle.
HANDLE startJreInstall(JreInstallHost& host, VexaInstallContext& context);

// Searches for a usable runtime: the private one, then (when allowRegistry)
// the registry. Returns its version text and appends its Java home to
// javaHome; empty when none.
std::wstring findJavaRuntime(VexaInstallContext& context, std::wstring& javaHome, bool allowRegistry);

// Addresses, limits and pauses of the runtime's downloads. The product uses
// the defaults; tests point them at their own server and shorten them before
// starting anything, never while a runtime thread runs.
struct JreSettings {
  std::wstring runtimeRoot;  // the build's runtime server root
  int paramsTimeoutMs = 10000;
  int packTimeoutMs = 3600000;
  uint32_t packMinValidSize = 0xA00000;
  int attempts = 3;
  download::Timing timing;
  // Null: the verifier of the built-in key.
  const pack_signature::PackVerifier* verifier = nullptr;
};
JreSettings& jreSettings();
