#pragma once
// Where a pack can come from: its own address first, then the same path on
// each mirror root, and the download that moves from one host to the next.
//
// A host is left, while another is still to be tried, as soon as it refuses
// a connection before its first byte, when it brings no byte for the receive
// time-out, or when its download fails (an error status after the
// downloader's retries, a wrong length or MD5). The last host gets the
// downloader's whole patience. Bytes already on disk carry over to the next
// host only when its file is the same one (PackSourceOutput).
//
// Threading: a PackFailover is started and waited for by its owner's thread;
// its hosts are tried one after the other on a thread of its own, which also
// watches the running download. The caller's listener is called on download
// and chunk threads, as with a plain download; a host that fails while
// another is left reaches it as a notice (onError), only the last failure as
// onFailed; with a pack folder first (an address without "://") whose copy
// was there but failed its checks, that failure rather than the last host's.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "download/Connection.h"
#include "download/DownloadListener.h"
#include "download/DownloadOutput.h"
#include "download/Timing.h"

class Log;

namespace packsources {

// Mirror roots from a list separated by blanks, ';' or ','; empty items and
// items that are not http or https addresses are left out.
std::vector<std::wstring> parseMirrorList(const std::wstring& text);

// "scheme://host[:port]" of an address; the address itself when it has no
// "://".
std::wstring hostOf(const std::wstring& url);

// The path of url (from the first '/' after the host, query included) on
// another root: "http://m/vexa" and "http://a/p/Vexa.ebz" give
// "http://m/vexa/p/Vexa.ebz". Empty when url has no path.
std::wstring onRoot(const std::wstring& url, const std::wstring& root);

// url, then its path on each root in order; an address that repeats an
// earlier one is left out.
std::vector<std::wstring> sourcesFor(const std::wstring& url, const std::vector<std::wstring>& roots);

// The pack's file, shared by its hosts. The download state on disk names the
// pack by its own address, not the host's, so that bytes one host brought
// may serve the next; they do when the next host's file is the same: the
// same length and the same Content-MD5 or strong ETag, or, with signed packs
// (trustSignature) and another host of the same run, the same length alone,
// since the signature checks the whole at the end. Otherwise the file starts
// again from its first byte.
class PackSourceOutput : public download::IDownloadOutput {
 public:
  PackSourceOutput(std::shared_ptr<download::FileDownloadOutput> file, std::wstring packUrl, bool trustSignature);

  bool open(const std::wstring& fileName) override { return file_->open(fileName); }
  bool openChunked(const std::wstring& fileName, const download::ContentIdentity& content,
                   std::vector<download::ChunkProgress>* chunks) override;
  void discardProgress() override { file_->discardProgress(); }
  std::wstring md5() override { return file_->md5(); }
  bool hasMd5() override { return file_->hasMd5(); }
  long long maxSize() override { return file_->maxSize(); }
  int size() override { return file_->size(); }
  bool write(const char* bytes, int offset, int count) override { return file_->write(bytes, offset, count); }
  void finish(bool ok) override { file_->finish(ok); }
  std::wstring name() override { return file_->name(); }
  bool isOk() override { return file_->isOk(); }

  // Whether the bytes carried over were vouched for by the length alone:
  // then only the signature can tell that they belong to this file.
  bool carriedOnLengthAlone();

 private:
  std::shared_ptr<download::FileDownloadOutput> file_;
  std::wstring packUrl_;
  bool trustSignature_;
  std::mutex lock_;
  bool onLengthAlone_ = false;
  // The host whose content the state on disk was last opened for in this run.
  std::wstring stateHost_;
};

class PackFailover : public download::IDownloadListener {
 public:
  struct Settings {
    std::wstring name;  // the download's name ("vexa8z")
    int id = 0;
    std::vector<std::wstring> sources;  // sourcesFor(...)
    int threadCount = 4;
    download::ConnectionFactory connections;
    download::Timing timing;  // its abort ends every host's download
    Log* log = nullptr;
    download::IDownloadListener* listener = nullptr;
  };

  PackFailover(Settings settings, std::shared_ptr<download::IDownloadOutput> output);
  ~PackFailover() override;
  PackFailover(const PackFailover&) = delete;
  PackFailover& operator=(const PackFailover&) = delete;

  // Starts trying the hosts from the first; false when no thread could start.
  bool start() { return startAt(0); }
  // The same from sources[first] on (a pack one host served was refused).
  bool startAt(size_t first);
  // Waits at most timeoutMs; true when a host served the whole pack.
  bool wait(int timeoutMs);

  const std::wstring& name() const { return settings_.name; }
  size_t sourceCount() const { return settings_.sources.size(); }
  // The address that served the pack; empty until one did.
  std::wstring servedBy();
  // Index in sources of the host that served it; -1 until one did.
  int servedIndex();
  // Body bytes read from every host tried, for the log and the benchmarks.
  long long bytesFetched();

  // IDownloadListener, called by each host's download.
  void onProgress(float percent, const std::wstring& name, int id) override;
  void onComplete(const std::wstring& name, int id) override;
  void onFailed(const std::wstring& name, int id, const std::wstring& message) override;
  void onError(const std::wstring& name, int id, const std::wstring& message) override;

  struct Watch;

 private:
  struct Run;
  void run(size_t first);
  enum class HostOutcome { kServed, kNext, kStop };
  // One host's download: it served the pack, the next host is to be tried,
  // or none can help (the bytes cannot be stored).
  HostOutcome tryHost(size_t index, bool last);

  Settings settings_;
  std::shared_ptr<download::IDownloadOutput> output_;
  std::shared_ptr<Run> run_;
  std::mutex lock_;
  std::wstring lastFailure_;
  // The first source's failure when it had the file: with a pack folder
  // first, that is the failure the pack reports.
  std::wstring firstHostFailure_;
  bool packfolderFirst_ = false;
  std::wstring servedBy_;
  int servedIndex_ = -1;
  std::atomic<long long> fetched_{0};
  long long startedMs_ = 0;  // the run's thread only
  // The host being tried: its failure is held back while others are left.
  std::atomic<bool> lastHost_{false};
  std::atomic<bool> completeSeen_{false};
};

}  // namespace packsources
