#pragma once
// One download of one URL into one output, run on a thread of its own.
//
// Threading: run() is the body of the "fileDownloaderThread"; it starts one
// "downloadThread" per chunk and joins them all before it returns. Chunk
// threads share the output and the chunk listener, which lock for themselves;
// each chunk owns its connection. The caller's listener is called on chunk and
// download threads with the chunk listener's lock held.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "download/Connection.h"
#include "download/DownloadFailure.h"
#include "download/DownloadListener.h"
#include "download/DownloadOutput.h"
#include "download/Timing.h"

class Log;

namespace download {

class FileDownloader;

// State of one chunk while its thread reads it.
struct ChunkDownloader {
  int chunkNum = 0;
  std::unique_ptr<IHttpConnection> connection;
  // Bytes this chunk fetches from offset; -1 means to the end of the body.
  int limit = 0;
  int offset = 0;
  ErrorHandler* errorHandler = nullptr;
  int downloadAttemptsRemain = 0;
  int connectAttempts = 0;
  int retryDelayMs = 0;
  bool done = false;
  ChunkDownloaderListener* listener = nullptr;
  std::wstring lastError;
  // The single-connection chunk, which reads the whole body of a server that
  // does not split.
  bool wholeBody = false;
  // A ranged request was answered with other bytes than those asked for: the
  // content changed on the server (If-Range) or the server ignores ranges.
  bool contentChanged = false;
  // Download attempts the chunk starts with; an attempt that brought new
  // bytes gives them back.
  int downloadAttempts = 0;
  // Length of the whole content, which a ranged answer's Content-Range must
  // name; -1 when unknown.
  long long contentTotal = -1;
  // Why the chunk's last attempt failed.
  DownloadFailure failure;
  // Whether 5xx answers are tried again (not for answers read whatever their status).
  bool retryServerErrors = true;
  // Requests follow redirects: set once the chunk went back to the first
  // address because the final one refused.
  bool followRedirects = false;
  // The download's first address, asked again once when the address the
  // redirects led to refuses (edge links expire); empty: never.
  std::wstring originUrl;
  // What a connection to originUrl needs.
  const ConnectionFactory* connections = nullptr;
  int connectTimeoutMs = 0;
  int receiveTimeoutMs = 0;
  std::wstring ifRange;
  // The time of the download's last byte (steady clock, ms), shared by its
  // chunks; null: no bound by time.
  std::atomic<long long>* lastByteMs = nullptr;
};

// Everything a chunk thread needs; owned and freed by that thread.
struct ChunkJob {
  int chunkNum = 0;
  std::shared_ptr<IDownloadOutput> output;
  FileDownloader* downloader = nullptr;
  std::wstring url;
  int connectTimeoutMs = 0;
  int receiveTimeoutMs = 0;
  int downloadAttempts = 0;
  int retryDelayMs = 0;
  int limit = 0;
  int offset = 0;
  int connectAttempts = 0;
  ChunkDownloaderListener* listener = nullptr;
  Log* log = nullptr;
  // Sent as If-Range with every request of the chunk; empty: none.
  std::wstring ifRange;
  // The download's first address, when redirects led elsewhere.
  std::wstring originUrl;
  long long contentTotal = -1;
};

// Adds up the progress of a downloader's chunks for the caller's listener.
class ChunkDownloaderListenerImpl : public ChunkDownloaderListener {
 public:
  explicit ChunkDownloaderListenerImpl(FileDownloader& downloader) : downloader_(downloader) {}
  // Starts counting with the bytes each chunk already holds from an earlier
  // run; a chunk reports only what it receives itself.
  void begin(const std::vector<ChunkProgress>& chunks);
  // Reports completion when the held bytes alone make the whole content.
  void completeIfAllHeld();
  void onChunkProgress(const ChunkDownloader& chunk, int received) override;
  void onChunkFinished(const ChunkDownloader& chunk, int received) override;

 private:
  void reportComplete();

  std::mutex lock_;
  std::map<int, int> heldByChunk_;
  std::map<int, int> receivedByChunk_;
  FileDownloader& downloader_;
  bool completeReported_ = false;
};

class FileDownloader : public ErrorHandler {
 public:
  // Longest content a download takes: offsets and sizes are 32-bit signed.
  static constexpr long long kMaxContentLength = 2147483647;
  // Bytes asked by the first request of a download that may be split.
  static constexpr int kProbeLength = 1;

  FileDownloader(std::wstring url, std::shared_ptr<IDownloadOutput> output, int threadCount, Log* log,
                 IDownloadListener* listener, std::wstring name, int id, ConnectionFactory connections,
                 Timing timing = Timing());
  FileDownloader(const FileDownloader&) = delete;
  FileDownloader& operator=(const FileDownloader&) = delete;

  void setMinValidSize(uint32_t bytes) { minValidSize_ = bytes; }
  void setFollowRedirects(bool follow) { followRedirects_ = follow; }
  void setExpectedMd5(const std::wstring& md5) { expectedMd5_ = md5; }
  // Takes the body of an answer with any status as content, as the
  // statistics endpoint's answers are read. Off: only 200 and 206 are.
  void setAnyStatusIsContent(bool any) { anyStatusIsContent_ = any; }

  // The thread body: the begin/end lines around download(). Returns the exit
  // code, 0 on success.
  int run();
  bool download();

  // Writes a chunk's error text and passes it to the listener.
  void handleError(const std::wstring& message) override;
  // Passes a failure of the download to the listener.
  void reportFailure(const std::wstring& message);
  // Called by a chunk thread whose ranged request got other bytes: the
  // download starts over once instead of failing.
  void noteContentChanged() { contentChanged_ = true; }
  // Keeps the first failure a chunk or step reports for this pass.
  void noteFailure(const DownloadFailure& failure);
  // Why the download failed; cause kNone after a success. Read once run()
  // or download() returned.
  DownloadFailure failure() const;

  const std::wstring& url() const { return url_; }
  const std::wstring& name() const { return name_; }
  int id() const { return id_; }
  int contentLength() const { return contentLength_; }
  IDownloadListener* listener() const { return listener_; }
  Log* log() const { return log_; }
  const Timing& timing() const { return timing_; }
  const ConnectionFactory& connections() const { return connections_; }
  std::atomic<long long>* lastByteClock() { return &lastByteMs_; }

 private:
  enum class FirstAnswer { kFailed, kSplit, kWholeContent };
  enum class Outcome { kDone, kFailed, kFinished, kContentChanged, kDamaged };
  // One pass from the first request to the length check. kFinished: the
  // output was already finished (too short, refused); kContentChanged: a
  // chunk found other content than the first answer described; kDamaged:
  // the whole content arrived with a wrong length or MD5.
  Outcome transfer(ChunkDownloader& main);
  // Opens the first request with retries; on failure logs and reports it.
  bool openFirstRequest(ChunkDownloader& chunk, int length);
  // The first answer and its facts (contentLength: that of the whole content).
  // kSplit: the content is fetched in chunks and the request is closed;
  // kWholeContent: the open answer carries the whole content.
  FirstAnswer openFirstAnswer(ChunkDownloader& main, ResponseFacts* facts);
  // kWholeContent when the open answer's status makes its body content;
  // otherwise closes it, logs and reports the status, and gives kFailed.
  FirstAnswer wholeContentAnswer(ChunkDownloader& main, const ResponseFacts& facts);
  // Reads the whole content from the open first answer; true when it is complete.
  bool readFirstAnswer(ChunkDownloader& main);
  // The chunks of a fresh download of the content.
  std::vector<ChunkProgress> planFreshChunks() const;
  // Fetches what the chunks do not hold yet; ifRange goes with every request.
  bool downloadChunks(const ResponseFacts& facts, const std::vector<ChunkProgress>& chunks,
                      const std::wstring& ifRange);
  // The chunked road: opens the output (which may hand back an earlier run's
  // chunks), fetches, and checks the digest. A resumed download whose digest
  // does not match is fetched once more from the first byte.
  bool downloadSplit(const ResponseFacts& facts, const std::wstring& fileName, const std::wstring& expectedMd5);
  enum class DigestCheck { kMatch, kMismatch, kUnreadable };
  DigestCheck checkDigest(const std::wstring& expectedMd5);
  // Records a digest that did not match (damage) or could not be computed.
  void noteDigestFailure(DigestCheck check);
  // True when nothing is expected or the digest matches; otherwise reports.
  bool digestAccepted(const std::wstring& expectedMd5);
  // Logs and reports an output that cannot take the file.
  void refuseOutput(const std::wstring& fileName);
  // A failure found after the transfer, reported unless one already was.
  void reportMismatch(const std::wstring& message);
  void setFailure(const DownloadFailure& failure);
  // At the end: clears the failure after a success, or completes it.
  void settleFailure(bool succeeded);
  // Records a wrong length or MD5 of the whole content; reported only when no
  // fresh try is left.
  void noteDamage(Damage damage, const std::wstring& message);
  // The ERROR line and failure report of a first request that never got an answer to read.
  void reportFirstRequestFailed(const ChunkDownloader& main);
  // False, with a log line and a failure report, for a length that neither the
  // 32-bit offsets nor the output can hold.
  bool acceptsLength(long long length);

  std::wstring url_;
  std::shared_ptr<IDownloadOutput> output_;
  int threadCount_;
  Log* log_;
  ChunkDownloaderListenerImpl chunkListener_;
  int contentLength_ = -1;
  IDownloadListener* listener_;
  uint32_t minValidSize_ = 0;
  bool followRedirects_ = false;
  std::wstring expectedMd5_;
  std::wstring name_;
  int id_;
  std::atomic<bool> failureReported_{false};
  std::atomic<bool> contentChanged_{false};
  bool anyStatusIsContent_ = false;
  bool failedToOpen_ = false;
  ConnectionFactory connections_;
  Timing timing_;
  mutable std::mutex failureLock_;
  DownloadFailure failure_;
  std::wstring damageMessage_;
  std::atomic<long long> lastByteMs_{0};
};

// Reads the open request of chunk into output, reconnecting after failed reads
// and short bodies while attempts remain. Returns the bytes received.
int readChunk(ChunkDownloader& chunk, Log* log, IDownloadOutput& output, const Timing& timing);

// Whether the single-connection chunk read a whole answer: readChunk ended
// cleanly, and the bytes match the announced length (or, without one, some
// arrived).
bool wholeBodyComplete(const ChunkDownloader& chunk, int received, int contentLength);

// Passes "message [chunkNum=..., ...], lastError:<code>" to the chunk's error
// handler and keeps "message, lastError:<code>" as the chunk's last error.
void reportChunkError(ChunkDownloader& chunk, const std::wstring& message);

// The body of a "downloadThread"; frees the job. Returns 0 when the chunk is done.
int runChunkJob(std::unique_ptr<ChunkJob> job, const Timing& timing);

}  // namespace download
