#pragma once
// Why an install failed, as one token from a closed set and one plain English
// sentence that names what the person can act on (a host, a folder, a volume
// and its megabytes). The first cause an install meets is the one it reports:
// what follows from it (downloads aborted because the disk is full, a product
// missing because its pack never came) must not blame another component.
// Portable.
//
// Threading: FailureRecord is filled by the worker, runtime and download
// threads and read on the main thread; one mutex guards it.
#include <cstdint>
#include <mutex>
#include <string>

namespace failure {

enum class Cause {
  kNone,
  kNetwork,           // no connection to a named host
  kServer,            // the server answered with an error status
  kDamaged,           // length or digest of what arrived is wrong, or it does not unpack
  kSignature,         // the pack's signature turned it down
  kDiskSpace,         // the volume lacks the space the install needs
  kNotWritable,       // a folder the install writes to refuses it
  kInstallDir,        // a folder named on the command line cannot be used
  kCancelled,
  kAnotherInstaller,
  kElevation,
  kRuntime,           // Java could not be installed or started although its pack arrived whole
};

// "network", "server", ... ; empty for kNone.
const char* token(Cause cause);
// The cause a token names; kNone for anything else.
Cause fromToken(const std::string& token);
// True for the causes a second try in the same run can mend.
bool retryable(Cause cause);

struct Failure {
  Cause cause = Cause::kNone;
  std::wstring text;  // the sentence for the person, English
  // Figures the wizard's localised sentence needs.
  std::wstring subject;  // host, folder or volume
  long long neededMb = 0;
  long long freeMb = 0;
  explicit operator bool() const { return cause != Cause::kNone; }
};

// The host of an address ("http://h:8731/x" -> "h:8731"); the text itself
// when it has no scheme.
std::wstring hostOf(const std::wstring& url);
// Whole megabytes, rounded up: 1 byte needs 1 MB.
long long megabytesUp(uint64_t bytes);
// Whole megabytes, rounded down.
long long megabytesDown(uint64_t bytes);

Failure network(const std::wstring& host);
Failure server(const std::wstring& host, int status);
Failure damaged(const std::wstring& what, const std::wstring& detail);
Failure signature(const std::wstring& what);
Failure diskSpace(const std::wstring& volume, uint64_t neededBytes, uint64_t freeBytes);
Failure notWritable(const std::wstring& folder, const std::wstring& reason);
Failure installDir(const std::wstring& option, const std::wstring& folder, const std::wstring& reason);
Failure cancelled();
Failure anotherInstaller();
Failure elevation(unsigned long error);
Failure runtime(const std::wstring& detail);

// What a failed download's message says about its cause: no connection or a
// broken read (network), an error status (server), a wrong length or digest
// (damaged), an output that cannot be written (notWritable), the refusal
// token "signature" (signature). url names the
// host; what names the download.
Failure fromDownloadMessage(const std::wstring& what, const std::wstring& url, const std::wstring& message);

class FailureRecord {
 public:
  // Keeps the first failure; a later one is dropped. True when kept.
  bool note(const Failure& failure);
  Failure get() const;
  bool failed() const;
  // Forgets the failure, for a second try in the same run.
  void clear();

 private:
  mutable std::mutex lock_;
  Failure first_;
};

}  // namespace failure
