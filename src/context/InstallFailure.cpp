#include "context/InstallFailure.h"

namespace failure {

namespace {

struct Name {
  Cause cause;
  const char* token;
};
constexpr Name kNames[] = {
    {Cause::kNetwork, "network"},         {Cause::kServer, "server"},
    {Cause::kDamaged, "damaged"},         {Cause::kSignature, "signature"},
    {Cause::kDiskSpace, "diskSpace"},     {Cause::kNotWritable, "notWritable"},
    {Cause::kInstallDir, "installDir"},   {Cause::kCancelled, "cancelled"},
    {Cause::kAnotherInstaller, "anotherInstaller"}, {Cause::kElevation, "elevation"},
    {Cause::kRuntime, "runtime"},
};

bool contains(const std::wstring& text, const wchar_t* part) { return text.find(part) != std::wstring::npos; }

Failure make(Cause cause, std::wstring text, std::wstring subject = std::wstring()) {
  Failure f;
  f.cause = cause;
  f.text = std::move(text);
  f.subject = std::move(subject);
  return f;
}

std::wstring inBrackets(const std::wstring& detail) { return detail.empty() ? L"" : L" (" + detail + L")"; }

// The number after "HTTP status " in a download message; 0 when none.
int statusIn(const std::wstring& message) {
  const wchar_t kPrefix[] = L"HTTP status ";
  size_t at = message.find(kPrefix);
  if (at == std::wstring::npos) return 0;
  int status = 0;
  for (size_t i = at + (sizeof(kPrefix) / sizeof(wchar_t) - 1); i < message.size() && status < 1000; ++i) {
    if (message[i] < L'0' || message[i] > L'9') break;
    status = status * 10 + (message[i] - L'0');
  }
  return status;
}

}  // namespace

const char* token(Cause cause) {
  for (const Name& n : kNames) {
    if (n.cause == cause) return n.token;
  }
  return "";
}

Cause fromToken(const std::string& text) {
  for (const Name& n : kNames) {
    if (text == n.token) return n.cause;
  }
  return Cause::kNone;
}

bool retryable(Cause cause) { return cause == Cause::kNetwork || cause == Cause::kServer || cause == Cause::kDamaged; }

std::wstring hostOf(const std::wstring& url) {
  size_t from = url.find(L"://");
  from = from == std::wstring::npos ? 0 : from + 3;
  size_t end = url.find_first_of(L"/?#", from);
  std::wstring host = url.substr(from, end == std::wstring::npos ? std::wstring::npos : end - from);
  // Credentials in an address are no one's business in a sentence.
  size_t at = host.rfind(L'@');
  if (at != std::wstring::npos) host.erase(0, at + 1);
  return host;
}

long long megabytesUp(uint64_t bytes) { return static_cast<long long>((bytes + 1048575) / 1048576); }
long long megabytesDown(uint64_t bytes) { return static_cast<long long>(bytes / 1048576); }

Failure network(const std::wstring& host) {
  return make(Cause::kNetwork,
              L"No connection to " + host + L". Check the network connection and the proxy settings, then try again.",
              host);
}

Failure server(const std::wstring& host, int status) {
  return make(Cause::kServer,
              L"The server " + host + L" answered with HTTP status " + std::to_wstring(status) +
                  L". Try again later.",
              host);
}

Failure damaged(const std::wstring& what, const std::wstring& detail) {
  return make(Cause::kDamaged, L"The download of " + what + L" arrived damaged" + inBrackets(detail) + L". Try again.",
              what);
}

Failure signature(const std::wstring& what) {
  return make(Cause::kSignature,
              L"The download of " + what +
                  L" is not signed by the publisher and was not installed. Download the installer again from the "
                  L"product's site.",
              what);
}

Failure diskSpace(const std::wstring& volume, uint64_t neededBytes, uint64_t freeBytes) {
  Failure f = make(Cause::kDiskSpace,
                   L"Not enough free space on " + volume + L": " + std::to_wstring(megabytesUp(neededBytes)) +
                       L" MB needed, " + std::to_wstring(megabytesDown(freeBytes)) +
                       L" MB free. Free some space or choose another folder.",
                   volume);
  f.neededMb = megabytesUp(neededBytes);
  f.freeMb = megabytesDown(freeBytes);
  return f;
}

Failure notWritable(const std::wstring& folder, const std::wstring& reason) {
  return make(Cause::kNotWritable,
              L"The folder " + folder + L" cannot be written" + inBrackets(reason) +
                  L". Choose another folder or give this one write access.",
              folder);
}

Failure installDir(const std::wstring& option, const std::wstring& folder, const std::wstring& reason) {
  return make(Cause::kInstallDir,
              L"The folder given with " + option + L" cannot be used" + inBrackets(reason) + L": " + folder +
                  L". Name another folder.",
              folder);
}

Failure cancelled() { return make(Cause::kCancelled, L"The installation was cancelled."); }

Failure anotherInstaller() {
  return make(Cause::kAnotherInstaller, L"Another installer is running. Wait for it to end, then try again.");
}

Failure elevation(unsigned long error) {
  return make(Cause::kElevation, L"The installer could not be started with administrator rights (error " +
                                     std::to_wstring(error) + L").");
}

Failure runtime(const std::wstring& detail) {
  return make(Cause::kRuntime, L"Java could not be installed or started" + inBrackets(detail) +
                                   L". Install Java (32 bit) by hand, then run the installer again.");
}

Failure fromDownloadMessage(const std::wstring& what, const std::wstring& url, const std::wstring& message) {
  const std::wstring host = hostOf(url);
  // The refusal's own token (the pack's signature turned it down).
  if (message == L"signature") return signature(what);
  for (const wchar_t* prefix : {L"CantCreateFile_", L"Can't write to "}) {
    const size_t at = message.find(prefix);
    if (at != std::wstring::npos) {
      return notWritable(message.substr(at + std::wstring(prefix).size()), L"the download cannot be written there");
    }
  }
  // The status counts before the word "range": a 5xx answer to a ranged
  // request is the server's fault, not the content's.
  if (const int status = statusIn(message); status != 0 && !contains(message, L"not the range")) {
    return server(host, status);
  }
  if (contains(message, L"MD5") || contains(message, L"less than the length") ||
      contains(message, L"Content length") || contains(message, L"not the range") ||
      contains(message, L"larger than its output")) {
    return damaged(what, message);
  }
  return network(host);
}

bool FailureRecord::note(const Failure& failure) {
  if (!failure) return false;
  std::lock_guard<std::mutex> guard(lock_);
  if (first_) return false;
  first_ = failure;
  return true;
}

Failure FailureRecord::get() const {
  std::lock_guard<std::mutex> guard(lock_);
  return first_;
}

bool FailureRecord::failed() const {
  std::lock_guard<std::mutex> guard(lock_);
  return static_cast<bool>(first_);
}

void FailureRecord::clear() {
  std::lock_guard<std::mutex> guard(lock_);
  first_ = Failure();
}

}  // namespace failure
