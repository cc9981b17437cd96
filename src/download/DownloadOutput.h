#pragma once
// Where the bytes of a download go. Outputs are held by shared_ptr: the caller,
// the downloader and every chunk job keep one, and the last holder frees it.
//
// Threading: chunk threads call write/size/md5 at the same time; each output
// guards its state with its own mutex.
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "download/DownloadState.h"
#include "formats/Md5.h"

namespace download {

class IDownloadOutput {
 public:
  virtual ~IDownloadOutput() = default;
  // Prepares to receive the download called fileName.
  virtual bool open(const std::wstring& fileName) = 0;
  // Prepares to receive a download fetched in the given chunks. An output that
  // keeps progress may hand back the chunks of an earlier, broken-off download
  // of the same content instead, each with the bytes it already holds; any
  // other output opens afresh and leaves the chunks as they are.
  virtual bool openChunked(const std::wstring& fileName, const ContentIdentity& content,
                           std::vector<ChunkProgress>* chunks) {
    (void)content;
    (void)chunks;
    return open(fileName);
  }
  // The bytes held proved not to make the content: nothing of them may be
  // picked up again.
  virtual void discardProgress() {}
  // MD5 of the bytes held as 32 lower-case hex digits; empty when not available.
  virtual std::wstring md5() = 0;
  // Whether md5() is meant to give a digest: when it does and md5() comes back
  // empty, the digest could not be computed.
  virtual bool hasMd5() { return false; }
  // Most bytes the output can hold; -1 when only the disk limits it.
  virtual long long maxSize() { return -1; }
  // Bytes held; -1 when nothing is open.
  virtual int size() = 0;
  // Stores count bytes at offset; false when they could not be stored.
  // Negative values are refused.
  virtual bool write(const char* bytes, int offset, int count) = 0;
  // Records the outcome and releases the sink.
  virtual void finish(bool ok) = 0;
  virtual std::wstring name() = 0;
  virtual bool isOk() = 0;
};

// Writes into a file. A path ending with '\' or '/' is a folder, and the name
// given to open() is appended to it.
//
// With keepProgress, a chunked download of content that has an MD5 or a
// strong ETag (ContentIdentity::identifiable) records,
// as it goes, which bytes of each chunk are on disk in a state file beside the
// file (downloadStatePath), and a later openChunked of the same content
// carries on from there. A state is only written for bytes already handed to
// the system, so a killed process leaves a state that undercounts at worst.
// The file and its state stay after finish(): whoever uses the file removes
// both.
class FileDownloadOutput : public IDownloadOutput {
 public:
  // Unsaved bytes after which the state file is written again.
  static constexpr long long kStateSaveBytes = 512 * 1024;

  explicit FileDownloadOutput(std::wstring path, bool keepProgress = false);
  ~FileDownloadOutput() override;
  FileDownloadOutput(const FileDownloadOutput&) = delete;
  FileDownloadOutput& operator=(const FileDownloadOutput&) = delete;

  bool open(const std::wstring& fileName) override;
  bool openChunked(const std::wstring& fileName, const ContentIdentity& content,
                   std::vector<ChunkProgress>* chunks) override;
  void discardProgress() override;
  // Bytes an earlier run had fetched when this download picked up its state.
  long long bytesResumed();
  std::wstring md5() override;
  bool hasMd5() override { return true; }
  int size() override;
  bool write(const char* bytes, int offset, int count) override;
  void finish(bool ok) override;
  std::wstring name() override;
  bool isOk() override;

  // What a reader that follows the download may read of the file: the bytes
  // from its first one that are on disk without a gap. generation counts the
  // times the file was started (afresh or from an earlier run's bytes) and
  // moves when bytes below the prefix are written again: a reader that began
  // in another generation has read bytes that may be gone.
  struct Prefix {
    long long bytes = 0;
    unsigned generation = 0;  // 0: not opened yet
    bool ended = false;       // finish() was called
    bool ok = false;          // what finish() was told
  };
  // Waits at most timeoutMs until the prefix passes `past`, the download
  // ends, or the generation is no longer `generation`; gives the prefix then.
  Prefix waitForPrefix(long long past, unsigned generation, int timeoutMs);

 private:
  void closeFile();
  // Records bytes [offset, offset + count) as on disk. Under lock_.
  void notePrefix(long long offset, long long count);
  void restartPrefix();
  // Joins a server-given name to a folder path; false for a name that may not.
  bool resolvePath(const std::wstring& fileName);
  bool createFresh();
  // The state on disk when it is of this content and the file still holds
  // every byte it counts.
  bool readResumableState(const ContentIdentity& content, DownloadState* state);
  void noteWritten(long long offset, long long count);
  void saveState();

  std::mutex lock_;
  std::wstring path_;
  bool keepProgress_;
  // Progress of the chunked download in hand; tracked only while tracking_.
  DownloadState state_;
  bool tracking_ = false;
  long long unsaved_ = 0;
  long long resumed_ = 0;
  std::FILE* file_ = nullptr;
  bool ok_ = false;
  // Digest of the bytes from the start to hashedEnd_, taken as they were
  // written in order, so that md5() only reads what came out of order (with
  // one connection: nothing). A write below hashedEnd_ (a chunk fetched
  // again) drops it, and md5() then reads the whole file.
  Md5 running_;
  long long hashedEnd_ = 0;
  bool runningValid_ = true;
  // The prefix for readers, and the runs on disk beyond it by start.
  std::condition_variable prefixChanged_;
  long long prefix_ = 0;
  std::map<long long, long long> runs_;
  unsigned generation_ = 0;
  bool ended_ = false;
};

// Keeps the bytes in blocks of 256 KiB, so a growing download never copies
// what it already holds. Holds server answers and pictures, never packs:
// anything past kMaxSize is refused rather than allowed to exhaust the
// address space of a 32-bit process.
class MemoryDownloadOutput : public IDownloadOutput {
 public:
  static constexpr int kBlockSize = 262144;
  static constexpr int kMaxSize = 16 * 1024 * 1024;

  MemoryDownloadOutput();
  bool open(const std::wstring& fileName) override;
  // Always empty: memory downloads are never compared with an MD5.
  std::wstring md5() override;
  long long maxSize() override { return kMaxSize; }
  int size() override;
  // False past kMaxSize or when memory runs out.
  bool write(const char* bytes, int offset, int count) override;
  void finish(bool ok) override;
  std::wstring name() override;
  bool isOk() override;

  // The first size() bytes, in order.
  std::string content();

 private:
  std::mutex lock_;
  std::vector<std::unique_ptr<char[]>> blocks_;
  int size_ = 0;
  bool ok_ = false;
};

}  // namespace download
