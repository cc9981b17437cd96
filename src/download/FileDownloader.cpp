#include "download/FileDownloader.h"

#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>
#include <vector>

#include "app/Log.h"
#include "app/platform/LogFile.h"
#include "download/ChunkPlan.h"
#include "download/DownloadState.h"
#include "download/FileNames.h"
#include "download/HttpFacts.h"

namespace download {
namespace {

constexpr int kAttempts = 5;
// Content larger than its connections times this is fetched in stripes of
// about this size, taken in order by whichever connection is free, so the
// bytes on disk without a gap grow at the speed of all connections together:
// a reader that follows the download (the unpack) is not held to one
// connection's pace, as it would be behind one chunk per connection.
constexpr uint32_t kStripeBytes = 2 * 1024 * 1024;
constexpr size_t kReadBufferSize = 8192;

void info(Log* log, const std::wstring& message) {
  if (log) log->info(message);
}

void error(Log* log, const std::wstring& message) {
  if (log) log->error(message);
}

// Sleeps in short steps so that an aborted download does not sit out a
// five-second retry pause.
void pause(int milliseconds, const Timing& timing) {
  constexpr int kStepMs = 50;
  while (milliseconds > 0 && !timing.aborted()) {
    int step = milliseconds < kStepMs ? milliseconds : kStepMs;
    std::this_thread::sleep_for(std::chrono::milliseconds(step));
    milliseconds -= step;
  }
}

long long nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::wstring num(long long value) { return std::to_wstring(value); }

enum class AnswerFit { kFits, kErrorStatus, kOtherBytes };

// Whether the answer to a ranged chunk request carries the bytes asked for.
// An error page is not content, and a whole answer (a server that ignores the
// range, or one whose content no longer matches If-Range) is not the range:
// written at the chunk's offset, either would corrupt the file.
AnswerFit chunkAnswerFit(const ResponseFacts& facts, int offset) {
  if (!isContentStatus(facts.status)) return AnswerFit::kErrorStatus;
  if (facts.rangeStart >= 0) return facts.rangeStart == offset ? AnswerFit::kFits : AnswerFit::kOtherBytes;
  return facts.status == 200 ? AnswerFit::kOtherBytes : AnswerFit::kFits;
}

// Tries openRequest up to the chunk's connect attempts, pausing between tries.
// With checkAnswer, a ranged request must be answered with content: an error
// status counts as a failed attempt; and a split chunk's request (not the
// whole-body one, which starts over by itself) must get its range, or the
// tries end at once with the chunk marked contentChanged.
bool openWithRetries(ChunkDownloader& chunk, Log* log, bool followRedirects, int length, int offset,
                     const Timing& timing, bool checkAnswer = true) {
  if (!chunk.connection) return false;
  for (int left = chunk.connectAttempts - 1; left >= 0 && !timing.aborted(); --left) {
    if (chunk.connection->openRequest(log, followRedirects, length, offset)) {
      const ResponseFacts& facts = chunk.connection->facts();
      AnswerFit fit = checkAnswer && length != -1 ? chunkAnswerFit(facts, offset) : AnswerFit::kFits;
      if (fit == AnswerFit::kOtherBytes && chunk.wholeBody) fit = AnswerFit::kFits;
      if (fit == AnswerFit::kFits) return true;
      chunk.connection->closeHandles();
      if (fit == AnswerFit::kOtherBytes) {
        chunk.contentChanged = true;
        reportChunkError(chunk, L"Answer is not the range asked for (HTTP status " + num(facts.status) +
                                    L"): the content changed on the server or it ignores ranges");
        return false;
      }
      reportChunkError(chunk, L"HTTP status " + num(facts.status) + L", connectAttemptCountRemain=" + num(left));
    } else {
      reportChunkError(chunk, L"Failed open connection, connectAttemptCountRemain=" + num(left));
      chunk.connection->closeConnection();
    }
    if (left > 0) pause(timing.connectRetryPauseMs, timing);
  }
  return false;
}

// Hands consecutive reads to the output in large writes: with several chunks,
// one write per 8 KiB read would take the output's lock, and make its system
// calls, thirty times as often, and the chunk threads would queue on it.
class WriteBatch {
 public:
  static constexpr size_t kBytes = 262144;

  explicit WriteBatch(IDownloadOutput& output) : output_(output) { bytes_.reserve(kBytes + kReadBufferSize); }

  // Adds count bytes that belong at offset; false when a write failed.
  bool add(const char* data, int offset, size_t count) {
    if (!bytes_.empty() && static_cast<long long>(offset) != offset_ + static_cast<long long>(bytes_.size())) {
      if (!flush()) return false;
    }
    if (bytes_.empty()) offset_ = offset;
    bytes_.insert(bytes_.end(), data, data + count);
    return bytes_.size() < kBytes || flush();
  }

  bool flush() {
    if (bytes_.empty()) return true;
    end_ = offset_ + static_cast<long long>(bytes_.size());
    bool ok = output_.write(bytes_.data(), offset_, static_cast<int>(bytes_.size()));
    bytes_.clear();
    return ok;
  }

  // End of the last write handed to the output.
  long long lastEnd() const { return end_; }

 private:
  IDownloadOutput& output_;
  std::vector<char> bytes_;
  int offset_ = 0;
  long long end_ = 0;
};

}  // namespace

void reportChunkError(ChunkDownloader& chunk, const std::wstring& message) {
  std::wstring code = num(logfile::lastErrorCode());
  std::wstring full = message + L" [chunkNum=" + num(chunk.chunkNum) +
                      L", downloadAttemptCountRemain=" + num(chunk.downloadAttemptsRemain) +
                      L", limit=" + num(chunk.limit) + L", offset=" + num(chunk.offset) +
                      L"], lastError:" + code;
  if (chunk.errorHandler) chunk.errorHandler->handleError(full);
  chunk.lastError = message + L", lastError:" + code;
}

int readChunk(ChunkDownloader& chunk, Log* log, IDownloadOutput& output, const Timing& timing) {
  const int start = chunk.offset;
  const int total = chunk.limit;
  int received = 0;
  bool reported = false;
  long long lastReport = 0;
  std::vector<char> buffer(kReadBufferSize);
  WriteBatch batch(output);
  // Another attempt would fail the same way: the output is full, out of
  // memory or its disk refuses.
  auto writeFailed = [&] {
    long long cap = output.maxSize();
    if (cap >= 0 && batch.lastEnd() > cap) {
      reportChunkError(chunk, L"Download is larger than its output can hold (" + num(cap) + L" bytes)");
    } else {
      reportChunkError(chunk, L"Can't write to " + output.name());
    }
  };

  while (chunk.connection) {
    if (timing.aborted()) {
      chunk.lastError = L"Download aborted";
      break;
    }
    size_t count = 0;
    ReadStatus status = chunk.connection->read(buffer.data(), buffer.size(), &count);
    if (status == ReadStatus::kData && count > 0) {
      if (!batch.add(buffer.data(), start + received, count)) {
        writeFailed();
        break;
      }
      received += static_cast<int>(count);
      long long now = nowMs();
      if (!reported || now - lastReport > timing.progressIntervalMs) {
        if (chunk.listener) chunk.listener->onChunkProgress(chunk, received);
        lastReport = now;
        reported = true;
      }
      continue;
    }

    // What arrived before an end or a failure is in its place before any
    // decision: a resume continues right after it.
    if (!batch.flush()) {
      writeFailed();
      break;
    }
    if (status != ReadStatus::kFailed) {
      if (total == -1 || received == total) {
        chunk.done = true;
        break;
      }
      // Short body: the bytes may have come from a broken answer, so the
      // whole chunk is fetched again.
      received = 0;
      chunk.connection->closeHandles();
      if (chunk.downloadAttemptsRemain <= 0) break;
      pause(chunk.retryDelayMs, timing);
      --chunk.downloadAttemptsRemain;
      if (!openWithRetries(chunk, log, false, total, start, timing)) break;
      chunk.limit = total;
      chunk.offset = start;
      if (chunk.connection->facts().contentLength == 0) {
        reportChunkError(chunk, L"Downloaded bytes less than the length of the content, contentLength=0, break");
        break;
      }
      reportChunkError(chunk, L"Downloaded bytes less than the length of the content, redownload all");
      continue;
    }

    reportChunkError(chunk, L"InternetReadFile");
    chunk.connection->closeHandles();
    if (chunk.downloadAttemptsRemain <= 0) break;
    pause(chunk.retryDelayMs, timing);
    int resumeOffset = start + received;
    int rest = total - received;
    --chunk.downloadAttemptsRemain;
    if (!openWithRetries(chunk, log, false, rest, resumeOffset, timing)) break;
    chunk.offset = resumeOffset;
    chunk.limit = rest;
    if (chunk.wholeBody && chunk.connection->facts().rangeStart != resumeOffset) {
      // The server sends the content from its first byte again: appending it
      // at the resume offset would corrupt the file, so start over.
      info(log, L"Range ignored by server, reading again from the first byte");
      received = 0;
      chunk.offset = start;
      chunk.limit = total;
    }
    reportChunkError(chunk, L"InternetReadFile, use next attempt");
  }
  // A chunk that stopped short keeps what it read, as far as it can.
  batch.flush();

  if (chunk.listener) {
    chunk.listener->onChunkProgress(chunk, received);
    chunk.listener->onChunkFinished(chunk, received);
  }
  return received;
}

int runChunkJob(std::unique_ptr<ChunkJob> job, const Timing& timing) {
  FileDownloader& downloader = *job->downloader;
  info(job->log, L"+++++BEGIN thread downloadThread " + downloader.url());
  ChunkDownloader chunk;
  chunk.chunkNum = job->chunkNum;
  chunk.connection = downloader.connections()(job->url, job->connectTimeoutMs, job->receiveTimeoutMs);
  chunk.errorHandler = job->downloader;
  chunk.downloadAttemptsRemain = job->downloadAttempts;
  chunk.connectAttempts = job->connectAttempts;
  chunk.retryDelayMs = job->retryDelayMs;
  chunk.listener = job->listener;
  chunk.connection->setIfRange(job->ifRange);
  if (openWithRetries(chunk, job->log, false, job->limit, job->offset, timing)) {
    chunk.offset = job->offset;
    chunk.limit = job->limit;
    readChunk(chunk, job->log, *job->output, timing);
    chunk.connection->closeHandles();
  } else if (chunk.listener) {
    // Without this the caller's listener would never learn that the chunk,
    // and so the download, failed.
    chunk.listener->onChunkFinished(chunk, 0);
  }
  if (chunk.contentChanged) downloader.noteContentChanged();
  info(job->log, L"-----END thread downloadThread " + downloader.url());
  return chunk.done ? 0 : 1;
}

void ChunkDownloaderListenerImpl::begin(const std::vector<ChunkProgress>& chunks) {
  std::lock_guard<std::mutex> guard(lock_);
  heldByChunk_.clear();
  receivedByChunk_.clear();
  for (size_t i = 0; i < chunks.size(); ++i) {
    heldByChunk_[static_cast<int>(i)] = static_cast<int>(chunks[i].done);
    receivedByChunk_[static_cast<int>(i)] = static_cast<int>(chunks[i].done);
  }
}

void ChunkDownloaderListenerImpl::completeIfAllHeld() {
  std::lock_guard<std::mutex> guard(lock_);
  if (percentReceived(receivedByChunk_, downloader_.contentLength()) == 100.0f) reportComplete();
}

void ChunkDownloaderListenerImpl::reportComplete() {
  IDownloadListener* listener = downloader_.listener();
  if (!listener || completeReported_) return;
  completeReported_ = true;
  listener->onProgress(100.0f, downloader_.name(), downloader_.id());
  listener->onComplete(downloader_.name(), downloader_.id());
}

void ChunkDownloaderListenerImpl::onChunkProgress(const ChunkDownloader& chunk, int received) {
  std::lock_guard<std::mutex> guard(lock_);
  receivedByChunk_[chunk.chunkNum] = heldByChunk_[chunk.chunkNum] + received;
  if (IDownloadListener* listener = downloader_.listener()) {
    listener->onProgress(percentReceived(receivedByChunk_, downloader_.contentLength()), downloader_.name(),
                         downloader_.id());
  }
}

void ChunkDownloaderListenerImpl::onChunkFinished(const ChunkDownloader& chunk, int received) {
  std::lock_guard<std::mutex> guard(lock_);
  receivedByChunk_[chunk.chunkNum] = heldByChunk_[chunk.chunkNum] + received;
  int contentLength = downloader_.contentLength();
  bool done = chunk.wholeBody ? wholeBodyComplete(chunk, received, contentLength) : chunk.done;
  IDownloadListener* listener = downloader_.listener();
  if (done) {
    info(downloader_.log(), L"Chunk #" + num(chunk.chunkNum) + L" is done, downloadId:" + downloader_.name() +
                                L", url:" + downloader_.url());
    if (!listener) return;
    float percent = chunk.wholeBody ? 100.0f : percentReceived(receivedByChunk_, contentLength);
    listener->onProgress(percent, downloader_.name(), downloader_.id());
    if (percent == 100.0f && !completeReported_) {
      completeReported_ = true;
      listener->onComplete(downloader_.name(), downloader_.id());
    }
  } else if (!chunk.contentChanged) {
    // A chunk that found changed content is not a failure yet: the download
    // starts over and reports for itself.
    std::wstring message = chunk.lastError;
    if (message.empty()) {
      message = L"Downloaded bytes differ from the length of the content, received=" + num(received) +
                L", contentLength=" + num(contentLength);
    }
    downloader_.reportFailure(message);
  }
}

bool wholeBodyComplete(const ChunkDownloader& chunk, int received, int contentLength) {
  if (!chunk.done) return false;
  // Without a length only bytes show that an answer came; with one, an
  // announced 0 is a complete, empty download.
  return contentLength == -1 ? received > 0 : received == contentLength;
}

FileDownloader::FileDownloader(std::wstring url, std::shared_ptr<IDownloadOutput> output, int threadCount,
                               Log* log, IDownloadListener* listener, std::wstring name, int id,
                               ConnectionFactory connections, Timing timing)
    : url_(std::move(url)),
      output_(std::move(output)),
      threadCount_(threadCount),
      log_(log),
      chunkListener_(*this),
      listener_(listener),
      name_(std::move(name)),
      id_(id),
      connections_(std::move(connections)),
      timing_(timing) {}

int FileDownloader::run() {
  info(log_, L"+++++BEGIN thread fileDownloaderThread " + url_);
  info(log_, L"Start download " + name_);
  bool ok = download();
  info(log_, L"End download " + name_);
  info(log_, L"-----END thread fileDownloaderThread" + url_);
  return ok ? 0 : 1;
}

void FileDownloader::handleError(const std::wstring& message) {
  error(log_, message);
  if (listener_) listener_->onError(name_, id_, message);
}

void FileDownloader::reportFailure(const std::wstring& message) {
  failureReported_ = true;
  if (listener_) listener_->onFailed(name_, id_, message);
}

void FileDownloader::reportMismatch(const std::wstring& message) {
  // Chunks may already have reported completion; the caller must still hear
  // that the download as a whole failed, but only once.
  if (!failureReported_) reportFailure(message);
}

bool FileDownloader::acceptsLength(long long length) {
  // Offsets and sizes are 32-bit signed numbers throughout; a longer content
  // would wrap and could even pass the length check.
  long long cap = kMaxContentLength;
  long long outputCap = output_->maxSize();
  if (outputCap >= 0 && outputCap < cap) cap = outputCap;
  if (length <= cap) return true;
  error(log_, L"Content length of [" + url_ + L"]=" + num(length) + L" is more than the download can hold (" +
                  num(cap) + L" bytes)");
  reportFailure(L"Content length too large: " + num(length));
  return false;
}

bool FileDownloader::openFirstRequest(ChunkDownloader& chunk, int length) {
  // The status of the first answer is judged by openFirstAnswer.
  if (openWithRetries(chunk, log_, followRedirects_, length, 0, timing_, false)) return true;
  info(log_, L"Can't open connection to " + url_);
  reportFailure(L"Can't open connection");
  return false;
}

FileDownloader::FirstAnswer FileDownloader::openFirstAnswer(ChunkDownloader& main, ResponseFacts* facts) {
  // Closing a request whose body was not read makes some WinINet versions
  // read the whole rest of the body first, which for a large file costs as
  // much as the download itself. So when the content may be split, the first
  // request asks for its first byte only: a server that splits answers with
  // the length of the whole content in its Content-Range, and the chunks
  // follow; one that does not sends the whole content, which is then read
  // from this very answer.
  bool probe = threadCount_ > 1;
  if (!openFirstRequest(main, probe ? kProbeLength : -1)) return FirstAnswer::kFailed;
  info(log_, L"Connection is opened: " + url_);
  *facts = main.connection->facts();
  // 416: the first byte does not exist, as for an empty file.
  bool partial = facts->rangeStart >= 0 || facts->rangeTotal >= 0 || facts->status == 206 || facts->status == 416;
  if (!probe || !partial) return wholeContentAnswer(main, *facts);
  // A partial answer that names the first byte and the whole length proves
  // ranges work even without Accept-Ranges, which static servers such as
  // nginx send only on whole answers.
  if (facts->rangeStart == 0 && facts->rangeTotal > 0 && (facts->acceptsRanges || facts->status == 206)) {
    facts->contentLength = facts->rangeTotal;
    std::vector<char> rest(kReadBufferSize);
    size_t count = 0;
    for (int reads = 0; reads < 8; ++reads) {
      if (main.connection->read(rest.data(), rest.size(), &count) != ReadStatus::kData) break;
    }
    main.connection->closeHandles();
    return FirstAnswer::kSplit;
  }
  // A partial answer that cannot be split on (ranges not announced, an
  // unknown total, nothing satisfiable, no Content-Range at all): ask for the
  // content as a whole.
  main.connection->closeHandles();
  if (!openFirstRequest(main, -1)) return FirstAnswer::kFailed;
  *facts = main.connection->facts();
  return wholeContentAnswer(main, *facts);
}

FileDownloader::FirstAnswer FileDownloader::wholeContentAnswer(ChunkDownloader& main, const ResponseFacts& facts) {
  if (anyStatusIsContent_ || isContentStatus(facts.status)) return FirstAnswer::kWholeContent;
  // An error page would otherwise pass for the content: nothing checks a
  // body that comes without a digest or a length.
  main.connection->closeHandles();
  error(log_, L"Download [" + url_ + L"] answered with HTTP status " + num(facts.status));
  reportFailure(L"HTTP status " + num(facts.status));
  return FirstAnswer::kFailed;
}

bool FileDownloader::readFirstAnswer(ChunkDownloader& main) {
  if (!main.connection->facts().acceptsRanges || contentLength_ <= 0) {
    int received = readChunk(main, log_, *output_, timing_);
    return wholeBodyComplete(main, received, contentLength_);
  }
  // A single chunk over the first answer: a break resumes with a range, and a
  // short body is fetched again, as a chunk thread would.
  main.wholeBody = false;
  main.limit = contentLength_;
  main.offset = 0;
  readChunk(main, log_, *output_, timing_);
  return main.done;
}

bool FileDownloader::download() {
  if (!output_) return false;
  ChunkDownloader main;
  main.chunkNum = 0;
  if (connections_) main.connection = connections_(url_, timing_.connectTimeoutMs, timing_.receiveTimeoutMs);
  main.downloadAttemptsRemain = kAttempts;
  main.connectAttempts = kAttempts;
  main.retryDelayMs = timing_.retryDelayMs;
  main.errorHandler = this;
  main.listener = &chunkListener_;

  Outcome outcome = transfer(main);
  if (outcome == Outcome::kContentChanged) {
    // The first answer described other content than a chunk then got: the
    // pack was replaced while it downloaded. What was fetched is of no use.
    output_->discardProgress();
    info(log_, L"Content of [" + url_ + L"] changed on the server, downloading again from the first byte");
    contentChanged_ = false;
    outcome = transfer(main);
    if (outcome == Outcome::kContentChanged) {
      output_->discardProgress();
      reportMismatch(L"Content changed on the server");
      outcome = Outcome::kFailed;
    }
  }
  if (outcome == Outcome::kFinished) return false;
  bool result = outcome == Outcome::kDone;
  output_->finish(result);
  info(log_, L"Download [" + url_ + L"] is " + (result ? L"SUCCESS" : L"FAILED"));
  return result;
}

FileDownloader::Outcome FileDownloader::transfer(ChunkDownloader& main) {
  main.wholeBody = true;
  main.contentChanged = false;
  main.limit = -1;
  main.offset = 0;
  main.downloadAttemptsRemain = kAttempts;

  ResponseFacts facts;
  FirstAnswer answer = openFirstAnswer(main, &facts);
  if (answer == FirstAnswer::kFailed) return Outcome::kFailed;
  if (!acceptsLength(facts.contentLength)) {
    main.connection->closeHandles();
    return Outcome::kFailed;
  }
  contentLength_ = static_cast<int>(facts.contentLength);

  if (static_cast<uint32_t>(contentLength_) < minValidSize_) {
    main.connection->closeHandles();
    output_->finish(false);
    info(log_, L"File " + url_ + L" is less then minValidSize");
    return Outcome::kFinished;
  }

  std::wstring fileName =
      lastPathComponent(facts.fileName.empty() ? fileNameFromUrl(facts.currentUrl) : facts.fileName);
  std::wstring expectedMd5 = expectedMd5_.empty() ? facts.contentMd5 : expectedMd5_;
  bool result;
  if (answer == FirstAnswer::kSplit) {
    result = downloadSplit(facts, fileName, expectedMd5);
    if (!result && contentChanged_ && !failedToOpen_) return Outcome::kContentChanged;
  } else {
    if (!output_->open(fileName)) {
      refuseOutput(fileName);
      main.connection->closeHandles();
      output_->finish(false);
      return Outcome::kFinished;
    }
    result = readFirstAnswer(main);
    main.connection->closeHandles();
    if (result) result = digestAccepted(expectedMd5);
  }
  if (failedToOpen_) {
    output_->finish(false);
    return Outcome::kFinished;
  }

  int size = output_->size();
  info(log_, L"length of [" + url_ + L"]=" + num(contentLength_) + L", length of downloaded file [" +
                 output_->name() + L"]=" + num(size));
  if (result && contentLength_ != -1 && contentLength_ != size) {
    result = false;
    output_->discardProgress();
    reportMismatch(L"Length mismatch");
  }
  return result ? Outcome::kDone : Outcome::kFailed;
}

void FileDownloader::refuseOutput(const std::wstring& fileName) {
  if (!isSafeFileName(fileName)) error(log_, L"Refused file name from server: " + fileName);
  error(log_, L"CantCreateFile_");
  reportFailure(L"CantCreateFile_" + output_->name());
}

FileDownloader::DigestCheck FileDownloader::checkDigest(const std::wstring& expectedMd5) {
  std::wstring actual = output_->md5();
  if (actual.empty()) {
    // Memory outputs give no digest and are never compared; an unreadable
    // file cannot be vouched for.
    if (!output_->hasMd5()) return DigestCheck::kMatch;
    error(log_, L"Can't compute MD5 of downloaded file [" + output_->name() + L"]");
    return DigestCheck::kUnreadable;
  }
  info(log_, L"MD5 of [" + url_ + L"]=" + expectedMd5 + L", MD5 of downloaded file [" + output_->name() + L"]=" +
                 actual);
  return expectedMd5 == actual ? DigestCheck::kMatch : DigestCheck::kMismatch;
}

bool FileDownloader::digestAccepted(const std::wstring& expectedMd5) {
  if (expectedMd5.empty()) return true;
  DigestCheck check = checkDigest(expectedMd5);
  if (check == DigestCheck::kMatch) return true;
  output_->discardProgress();
  reportMismatch(check == DigestCheck::kMismatch ? L"MD5 mismatch" : L"Can't compute MD5");
  return false;
}

std::vector<ChunkProgress> FileDownloader::planFreshChunks() const {
  uint32_t length = static_cast<uint32_t>(contentLength_);
  std::vector<ChunkProgress> chunks;
  const int connections = effectiveThreadCount(threadCount_, length);
  // A large pack gets wider stripes rather than more of them: the state file
  // that lets a later run resume holds a bounded number of chunks.
  const int count = stripedChunkCount(length, connections, kStripeBytes, int(DownloadState::kMaxChunks));
  for (const ChunkRange& range : planChunks(length, count)) {
    ChunkProgress chunk;
    chunk.offset = range.offset;
    chunk.limit = range.limit;
    chunks.push_back(chunk);
  }
  return chunks;
}

bool FileDownloader::downloadSplit(const ResponseFacts& facts, const std::wstring& fileName,
                                   const std::wstring& expectedMd5) {
  ContentIdentity content;
  content.url = url_;
  content.length = contentLength_;
  content.md5 = facts.contentMd5;
  // Without a digest, a strong tag tells the content apart, and the chunks'
  // If-Range keeps a server whose content changed from sending other bytes
  // for a range. With a digest the tag is not needed.
  if (content.md5.empty() && isStrongEtag(facts.etag)) content.etag = facts.etag;
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<ChunkProgress> chunks = planFreshChunks();
    if (!output_->openChunked(fileName, content, &chunks)) {
      refuseOutput(fileName);
      failedToOpen_ = true;
      return false;
    }
    long long held = 0;
    for (const ChunkProgress& chunk : chunks) held += chunk.done;
    if (held > 0) {
      info(log_, L"Resume download of [" + url_ + L"] from an earlier run: " + num(held) + L" of " +
                     num(contentLength_) + L" bytes are held");
    }
    if (!downloadChunks(facts, chunks, content.etag)) return false;
    if (expectedMd5.empty()) {
      if (held > 0) {
        info(log_, L"Resumed download of [" + url_ + L"] has no MD5 to check: its length and If-Range " +
                       content.etag + L" vouch for the bytes held");
      }
      return true;
    }
    DigestCheck check = checkDigest(expectedMd5);
    if (check == DigestCheck::kMatch) return true;
    output_->discardProgress();
    if (held == 0 || check != DigestCheck::kMismatch) {
      reportMismatch(check == DigestCheck::kMismatch ? L"MD5 mismatch" : L"Can't compute MD5");
      return false;
    }
    // The bytes kept from the earlier run were not what they claimed to be
    // (changed on disk, or cut short by a crash): fetch the whole content.
    info(log_, L"Resumed download of [" + url_ + L"] does not match its MD5, downloading again from the first byte");
  }
  reportMismatch(L"MD5 mismatch");
  return false;
}

bool FileDownloader::downloadChunks(const ResponseFacts& facts, const std::vector<ChunkProgress>& plan,
                                    const std::wstring& ifRange) {
  chunkListener_.begin(plan);
  std::vector<int> exitCodes(plan.size(), 0);
  std::vector<size_t> pending;
  for (size_t i = 0; i < plan.size(); ++i) {
    if (plan[i].remaining() <= 0) continue;
    exitCodes[i] = 1;
    pending.push_back(i);
  }
  auto jobFor = [&](size_t i) {
    auto job = std::make_unique<ChunkJob>();
    job->chunkNum = static_cast<int>(i);
    job->output = output_;
    job->downloader = this;
    job->url = facts.currentUrl;
    job->connectTimeoutMs = timing_.connectTimeoutMs;
    job->receiveTimeoutMs = timing_.receiveTimeoutMs;
    job->downloadAttempts = kAttempts;
    job->retryDelayMs = timing_.retryDelayMs;
    job->limit = static_cast<int>(plan[i].remaining());
    job->offset = static_cast<int>(plan[i].offset + plan[i].done);
    job->connectAttempts = kAttempts;
    job->listener = &chunkListener_;
    job->log = log_;
    job->ifRange = ifRange;
    return job;
  };
  // Each connection thread takes the next chunk not yet taken, lowest first,
  // until none is left; a chunk's exit code is written by the one thread
  // that took it.
  std::atomic<size_t> next{0};
  auto connection = [&] {
    for (size_t k; (k = next.fetch_add(1)) < pending.size();) {
      exitCodes[pending[k]] = runChunkJob(jobFor(pending[k]), timing_);
    }
  };
  size_t connections = static_cast<size_t>(effectiveThreadCount(threadCount_, static_cast<uint32_t>(contentLength_)));
  if (connections > pending.size()) connections = pending.size();
  std::vector<std::thread> threads;
  threads.reserve(connections);
  for (size_t t = 0; t < connections; ++t) {
    try {
      threads.emplace_back(connection);
    } catch (const std::system_error&) {
      error(log_, L"Can't start downloadThread for chunk #" + num(static_cast<long long>(t)));
    }
  }
  for (std::thread& thread : threads) thread.join();
  for (int code : exitCodes) {
    if (code != 0) return false;
  }
  if (threads.empty()) chunkListener_.completeIfAllHeld();
  return true;
}

}  // namespace download
