#pragma once
// The files the server hands out: everything under one content folder and
// nothing outside it, whatever the request path or the symbolic links say.
//
// Threading: resolve() and md5Of() may be called from any number of threads;
// the digest cache has its own lock.
#include <atomic>
#include <cstdint>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <string>

struct ContentFile {
  std::string path;  // real path on disk, inside the root
  uint64_t size = 0;
  int64_t mtimeNs = 0;
};

class ContentStore {
 public:
  // An unusable root makes every resolve() fail; valid() tells.
  explicit ContentStore(const std::string& root);
  bool valid() const { return !root_.empty(); }

  // urlPath is the decoded request path. Refuses "..", backslashes, NULs,
  // anything whose real path leaves the root, and anything but a regular file.
  std::optional<ContentFile> resolve(const std::string& urlPath) const;

  // 32 lower-case hex digits of the file's MD5; worked out once per
  // (path, size, mtime). Requests that arrive while it is being worked out
  // wait for that one reading instead of starting their own. Empty when the
  // file cannot be read.
  std::string md5Of(const ContentFile& file);

  // How many times a file was read for its digest.
  long digestsWorkedOut() const { return digestsWorkedOut_; }

 private:
  struct CachedDigest {
    uint64_t size;
    int64_t mtimeNs;
    uint64_t generation;  // tells this entry from a later one for the same path
    std::shared_future<std::string> hex;
  };

  // The file's digest by the system's crypto library, several times faster
  // than a portable one: the first request of a changed pack waits for it.
  static std::string hashFile(const ContentFile& file);
  void forget(const std::string& path, uint64_t generation);

  std::string root_;  // real path, no trailing slash
  std::mutex cacheLock_;
  std::map<std::string, CachedDigest> cache_;
  uint64_t nextGeneration_ = 0;
  std::atomic<long> digestsWorkedOut_{0};
};
