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
// range, or one whose content no longer matches If-Range) is not the range,
// nor is a partial answer that names no range, another first byte or another
// whole length: written at the chunk's offset, any of them would corrupt the
// file.
AnswerFit chunkAnswerFit(const ResponseFacts& facts, int offset, long long total) {
  if (!isContentStatus(facts.status)) return AnswerFit::kErrorStatus;
  if (facts.rangeStart >= 0) {
    if (facts.rangeStart != offset) return AnswerFit::kOtherBytes;
    return total >= 0 && facts.rangeTotal >= 0 && facts.rangeTotal != total ? AnswerFit::kOtherBytes
                                                                          : AnswerFit::kFits;
  }
  return facts.status == 0 ? AnswerFit::kFits : AnswerFit::kOtherBytes;
}

DownloadFailure failureOf(FailureCause cause, const std::wstring& text) {
  DownloadFailure failure;
  failure.cause = cause;
  failure.text = text;
  return failure;
}

DownloadFailure serverFailure(int status) {
  DownloadFailure failure = failureOf(FailureCause::kServer, L"HTTP status " + num(status));
  failure.status = status;
  return failure;
}

DownloadFailure hostFailure(FailureCause cause, const std::wstring& url, const std::wstring& text) {
  DownloadFailure failure = failureOf(cause, text);
  failure.host = hostOfUrl(url);
  return failure;
}

// The pause before a 5xx answer is asked again: the server's Retry-After
// when it asks for longer than the usual pause, up to the cap.
int serverRetryPauseMs(const ResponseFacts& facts, const Timing& timing) {
  if (facts.retryAfterSeconds < 0) return timing.connectRetryPauseMs;
  long long asked = facts.retryAfterSeconds * 1000;
  if (asked > timing.retryAfterCapMs) asked = timing.retryAfterCapMs;
  return asked > timing.connectRetryPauseMs ? static_cast<int>(asked) : timing.connectRetryPauseMs;
}

// Tries openRequest up to the chunk's connect attempts, pausing between tries.
// A 5xx answer is a failed attempt (unless the chunk reads any status); any
// other error status ends the tries at once. With checkAnswer, a ranged
// request must be answered with content; and a split chunk's request (not the
// whole-body one, which starts over by itself) must get its range, or the
// tries end at once with the chunk marked contentChanged.
bool openWithRetries(ChunkDownloader& chunk, Log* log, bool followRedirects, int length, int offset,
                     const Timing& timing, bool checkAnswer = true) {
  if (!chunk.connection) return false;
  for (int left = chunk.connectAttempts - 1; left >= 0; --left) {
    if (timing.aborted()) {
      chunk.failure = failureOf(FailureCause::kCancelled, L"Download aborted");
      return false;
    }
    int pauseMs = timing.connectRetryPauseMs;
    if (chunk.connection->openRequest(log, followRedirects || chunk.followRedirects, length, offset)) {
      const ResponseFacts& facts = chunk.connection->facts();
      if (chunk.retryServerErrors && isServerErrorStatus(facts.status)) {
        chunk.failure = serverFailure(facts.status);
        pauseMs = serverRetryPauseMs(facts, timing);
        chunk.connection->closeHandles();
        reportChunkError(chunk, L"HTTP status " + num(chunk.failure.status) +
                                    L", connectAttemptCountRemain=" + num(left));
        if (left > 0) pause(pauseMs, timing);
        continue;
      }
      AnswerFit fit = checkAnswer && length != -1 ? chunkAnswerFit(facts, offset, chunk.contentTotal) : AnswerFit::kFits;
      if (fit == AnswerFit::kOtherBytes && chunk.wholeBody) fit = AnswerFit::kFits;
      if (fit == AnswerFit::kFits) return true;
      int status = facts.status;
      chunk.connection->closeHandles();
      if (fit == AnswerFit::kOtherBytes) {
        chunk.contentChanged = true;
        chunk.failure = serverFailure(status);
        reportChunkError(chunk, L"Answer is not the range asked for (HTTP status " + num(status) +
                                    L"): the content changed on the server or it ignores ranges");
        return false;
      }
      // A 4xx (or any other status that is not content) is the server's
      // final word on this address.
      chunk.failure = serverFailure(status);
      reportChunkError(chunk, L"HTTP status " + num(status) + L", connectAttemptCountRemain=0");
      return false;
    }
    const ResponseFacts& facts = chunk.connection->facts();
    if (facts.redirectRefused) {
      chunk.failure = serverFailure(facts.status);
      chunk.failure.text = L"Redirect refused";
      reportChunkError(chunk, L"Redirect refused, connectAttemptCountRemain=0");
      chunk.connection->closeHandles();
      return false;
    }
    chunk.failure = hostFailure(FailureCause::kNetwork, facts.currentUrl, L"Can't open connection");
    reportChunkError(chunk, L"Failed open connection, connectAttemptCountRemain=" + num(left));
    chunk.connection->closeConnection();
    if (left > 0) pause(pauseMs, timing);
  }
  return false;
}

// openWithRetries for a chunk's request, which goes to the address the
// download's redirects led to. When that address refuses (edge links are
// often signed for minutes and then answer 403 or nothing), the chunk asks
// the first address once more and follows its redirects afresh.
bool openChunkRequest(ChunkDownloader& chunk, Log* log, int length, int offset, const Timing& timing) {
  if (openWithRetries(chunk, log, false, length, offset, timing)) return true;
  if (chunk.contentChanged || timing.aborted() || chunk.followRedirects || chunk.originUrl.empty() ||
      !chunk.connections || !*chunk.connections || chunk.failure.cause == FailureCause::kNone) {
    return false;
  }
  if (chunk.failure.cause == FailureCause::kServer && isServerErrorStatus(chunk.failure.status)) return false;
  info(log, L"Address " + chunk.connection->facts().currentUrl + L" refused, asking " + chunk.originUrl + L" again");
  auto origin = (*chunk.connections)(chunk.originUrl, chunk.connectTimeoutMs, chunk.receiveTimeoutMs);
  if (!origin) return false;
  origin->setIfRange(chunk.ifRange);
  chunk.connection = std::move(origin);
  chunk.followRedirects = true;
  return openWithRetries(chunk, log, true, length, offset, timing);
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
  // The most bytes this chunk held at once: an attempt counts as progress
  // only when it got past them (a restart from the first byte does not).
  int best = 0;
  int bestAtAttempt = 0;
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
    chunk.failure = failureOf(FailureCause::kOutput, L"Can't write to " + output.name());
  };
  // Whether another attempt may start: one that brought new bytes gives the
  // chunk its attempts back, and none starts once the download has heard
  // nothing for the stall limit.
  auto attemptLeft = [&] {
    if (best > bestAtAttempt) chunk.downloadAttemptsRemain = chunk.downloadAttempts;
    bestAtAttempt = best;
    if (chunk.lastByteMs && nowMs() - chunk.lastByteMs->load() > timing.stallLimitMs) {
      chunk.failure.cause = FailureCause::kStalled;
      chunk.failure.text = L"No byte for " + num(timing.stallLimitMs) + L" ms";
      reportChunkError(chunk, L"No byte arrived for " + num(timing.stallLimitMs) + L" ms, give up");
      return false;
    }
    return chunk.downloadAttemptsRemain > 0;
  };

  while (chunk.connection) {
    if (timing.aborted()) {
      chunk.lastError = L"Download aborted";
      chunk.failure = failureOf(FailureCause::kCancelled, L"Download aborted");
      break;
    }
    size_t count = 0;
    long long readStart = nowMs();
    ReadStatus status = chunk.connection->read(buffer.data(), buffer.size(), &count);
    if (status == ReadStatus::kData && count > 0) {
      if (!batch.add(buffer.data(), start + received, count)) {
        writeFailed();
        break;
      }
      received += static_cast<int>(count);
      if (received > best) best = received;
      long long now = nowMs();
      if (chunk.lastByteMs) chunk.lastByteMs->store(now);
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
    const std::wstring url = chunk.connection->facts().currentUrl;
    if (status != ReadStatus::kFailed) {
      if (total == -1 || received == total) {
        chunk.done = true;
        break;
      }
      // Short body: the connection was cut (a reset often reads as an end).
      // What arrived is in place; the rest of the chunk is asked for.
      chunk.failure = hostFailure(FailureCause::kNetwork, url, L"Answer cut short");
      reportChunkError(chunk, L"Downloaded bytes less than the length of the content, received=" + num(received));
    } else {
      // A read that waited out the receive time-out found the host silent.
      bool silent = nowMs() - readStart >= chunk.receiveTimeoutMs && chunk.receiveTimeoutMs > 0;
      chunk.failure = hostFailure(silent ? FailureCause::kStalled : FailureCause::kNetwork, url,
                                  silent ? L"No byte within the receive time-out" : L"Read failed");
      reportChunkError(chunk, L"InternetReadFile");
    }
    chunk.connection->closeHandles();
    if (!attemptLeft()) break;
    pause(chunk.retryDelayMs, timing);
    int resumeOffset = start + received;
    int rest = total == -1 ? -1 - received : total - received;
    --chunk.downloadAttemptsRemain;
    if (!openChunkRequest(chunk, log, rest, resumeOffset, timing)) break;
    chunk.offset = resumeOffset;
    chunk.limit = rest;
    if (chunk.wholeBody && chunk.connection->facts().rangeStart != resumeOffset) {
      // The server sends the content from its first byte again: appending it
      // at the resume offset would corrupt the file, so start over.
      info(log, L"Range ignored by server, reading again from the first byte");
      received = 0;
      chunk.offset = start;
      chunk.limit = total;
    } else if (chunk.connection->facts().contentLength == 0 && rest > 0) {
      reportChunkError(chunk, L"Downloaded bytes less than the length of the content, contentLength=0, break");
      break;
    }
    reportChunkError(chunk, status == ReadStatus::kFailed ? L"InternetReadFile, use next attempt"
                                                          : L"Downloaded bytes less than the length of the content, "
                                                            L"resume from the byte reached");
  }
  // A chunk that stopped short keeps what it read, as far as it can.
  batch.flush();
  if (chunk.done) chunk.failure = DownloadFailure();

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
  chunk.downloadAttempts = job->downloadAttempts;
  chunk.connectAttempts = job->connectAttempts;
  chunk.retryDelayMs = job->retryDelayMs;
  chunk.listener = job->listener;
  chunk.contentTotal = job->contentTotal;
  chunk.originUrl = job->originUrl;
  chunk.connections = &downloader.connections();
  chunk.connectTimeoutMs = job->connectTimeoutMs;
  chunk.receiveTimeoutMs = job->receiveTimeoutMs;
  chunk.ifRange = job->ifRange;
  chunk.lastByteMs = downloader.lastByteClock();
  if (chunk.connection) chunk.connection->setIfRange(job->ifRange);
  if (openChunkRequest(chunk, job->log, job->limit, job->offset, timing)) {
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
  if (!chunk.done) downloader.noteFailure(chunk.failure);
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

void FileDownloader::noteFailure(const DownloadFailure& failure) {
  std::lock_guard<std::mutex> guard(failureLock_);
  if (!failure_.failed()) failure_ = failure;
}

void FileDownloader::setFailure(const DownloadFailure& failure) {
  std::lock_guard<std::mutex> guard(failureLock_);
  failure_ = failure;
}

DownloadFailure FileDownloader::failure() const {
  std::lock_guard<std::mutex> guard(failureLock_);
  return failure_;
}

void FileDownloader::noteDamage(Damage damage, const std::wstring& message) {
  DownloadFailure failure = failureOf(FailureCause::kDamaged, message);
  failure.damage = damage;
  setFailure(failure);
  damageMessage_ = message;
}

void FileDownloader::reportFirstRequestFailed(const ChunkDownloader& main) {
  const DownloadFailure& why = main.failure;
  noteFailure(why.failed() ? why : hostFailure(FailureCause::kNetwork, url_, L"Can't open connection"));
  if (why.cause == FailureCause::kServer) {
    error(log_, L"Download [" + url_ + L"] answered with HTTP status " + num(why.status));
    reportFailure(why.text);
    return;
  }
  info(log_, L"Can't open connection to " + url_);
  reportFailure(L"Can't open connection");
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
  DownloadFailure failure = failureOf(FailureCause::kDamaged, L"Content length too large: " + num(length));
  failure.damage = Damage::kLength;
  noteFailure(failure);
  return false;
}

bool FileDownloader::openFirstRequest(ChunkDownloader& chunk, int length) {
  // The status of the first answer is judged by openFirstAnswer.
  if (openWithRetries(chunk, log_, followRedirects_, length, 0, timing_, false)) return true;
  reportFirstRequestFailed(chunk);
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
  noteFailure(serverFailure(facts.status));
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
  main.downloadAttempts = kAttempts;
  main.connectAttempts = kAttempts;
  main.retryDelayMs = timing_.retryDelayMs;
  main.errorHandler = this;
  main.listener = &chunkListener_;
  main.retryServerErrors = !anyStatusIsContent_;
  main.receiveTimeoutMs = timing_.receiveTimeoutMs;
  main.lastByteMs = &lastByteMs_;
  // Its connection stays on the first address: a resume follows the
  // redirects again to wherever they lead now.
  main.followRedirects = followRedirects_;

  // Other content than the first answer described (the pack was replaced
  // while it downloaded), and a whole content whose length or MD5 is wrong,
  // each get one more pass from a fresh state: what was fetched is of no use.
  bool changedRetried = false;
  bool damageRetried = false;
  Outcome outcome = transfer(main);
  for (;;) {
    if (outcome == Outcome::kContentChanged && !changedRetried) {
      changedRetried = true;
      output_->discardProgress();
      info(log_, L"Content of [" + url_ + L"] changed on the server, downloading again from the first byte");
    } else if (outcome == Outcome::kDamaged && !damageRetried && !timing_.aborted()) {
      damageRetried = true;
      output_->discardProgress();
      info(log_, L"Download of [" + url_ + L"] is damaged (" + damageMessage_ +
                     L"), downloading again from the first byte");
    } else {
      break;
    }
    contentChanged_ = false;
    setFailure(DownloadFailure());
    outcome = transfer(main);
  }
  if (outcome == Outcome::kContentChanged) {
    output_->discardProgress();
    reportMismatch(L"Content changed on the server");
    DownloadFailure changed = failureOf(FailureCause::kDamaged, L"Content changed on the server");
    setFailure(changed);
    outcome = Outcome::kFailed;
  }
  if (outcome == Outcome::kDamaged) {
    reportMismatch(damageMessage_);
    outcome = Outcome::kFailed;
  }
  bool result = outcome == Outcome::kDone;
  settleFailure(result);
  if (outcome == Outcome::kFinished) return false;
  output_->finish(result);
  info(log_, L"Download [" + url_ + L"] is " + (result ? L"SUCCESS" : L"FAILED"));
  return result;
}

void FileDownloader::settleFailure(bool succeeded) {
  std::lock_guard<std::mutex> guard(failureLock_);
  if (succeeded) {
    failure_ = DownloadFailure();
    return;
  }
  if (timing_.aborted()) failure_ = failureOf(FailureCause::kCancelled, L"Download aborted");
  if (!failure_.failed()) failure_ = hostFailure(FailureCause::kNetwork, url_, L"Download failed");
  FailureCause cause = failure_.cause;
  failure_.bytesKept = cause == FailureCause::kNetwork || cause == FailureCause::kServer ||
                       cause == FailureCause::kStalled || cause == FailureCause::kCancelled;
}

FileDownloader::Outcome FileDownloader::transfer(ChunkDownloader& main) {
  main.wholeBody = true;
  main.contentChanged = false;
  main.limit = -1;
  main.offset = 0;
  main.downloadAttemptsRemain = kAttempts;
  main.failure = DownloadFailure();
  lastByteMs_.store(nowMs());

  ResponseFacts facts;
  FirstAnswer answer = openFirstAnswer(main, &facts);
  if (answer == FirstAnswer::kFailed) return Outcome::kFailed;
  if (!acceptsLength(facts.contentLength)) {
    main.connection->closeHandles();
    return Outcome::kFailed;
  }
  contentLength_ = static_cast<int>(facts.contentLength);
  main.contentTotal = contentLength_;
  if (facts.currentUrl != url_) info(log_, L"Download [" + url_ + L"] comes from " + facts.currentUrl);

  if (static_cast<uint32_t>(contentLength_) < minValidSize_) {
    main.connection->closeHandles();
    output_->finish(false);
    info(log_, L"File " + url_ + L" is less then minValidSize");
    DownloadFailure small = failureOf(FailureCause::kDamaged, L"Less than the minimum size");
    small.damage = Damage::kLength;
    noteFailure(small);
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
    if (!result) {
      noteFailure(main.failure.failed() ? main.failure
                                        : failureOf(FailureCause::kNetwork, L"Answer ended short of its length"));
    }
    if (result) result = digestAccepted(expectedMd5);
  }
  if (failedToOpen_) {
    output_->finish(false);
    return Outcome::kFinished;
  }
  if (!result && failure().cause == FailureCause::kDamaged) return Outcome::kDamaged;

  int size = output_->size();
  info(log_, L"length of [" + url_ + L"]=" + num(contentLength_) + L", length of downloaded file [" +
                 output_->name() + L"]=" + num(size));
  if (result && contentLength_ != -1 && contentLength_ != size) {
    output_->discardProgress();
    noteDamage(Damage::kLength, L"Length mismatch");
    return Outcome::kDamaged;
  }
  return result ? Outcome::kDone : Outcome::kFailed;
}

void FileDownloader::refuseOutput(const std::wstring& fileName) {
  if (!isSafeFileName(fileName)) error(log_, L"Refused file name from server: " + fileName);
  error(log_, L"CantCreateFile_");
  reportFailure(L"CantCreateFile_" + output_->name());
  noteFailure(failureOf(FailureCause::kOutput, L"CantCreateFile_" + output_->name()));
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
  noteDigestFailure(check);
  return false;
}

void FileDownloader::noteDigestFailure(DigestCheck check) {
  if (check == DigestCheck::kMismatch) {
    noteDamage(Damage::kMd5, L"MD5 mismatch");
    return;
  }
  // A file that cannot be read back is the disk's fault, not the server's:
  // fetching again would not help.
  reportMismatch(L"Can't compute MD5");
  setFailure(failureOf(FailureCause::kOutput, L"Can't compute MD5"));
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
      noteDigestFailure(check);
      return false;
    }
    // The bytes kept from the earlier run were not what they claimed to be
    // (changed on disk, or cut short by a crash): fetch the whole content.
    info(log_, L"Resumed download of [" + url_ + L"] does not match its MD5, downloading again from the first byte");
  }
  noteDamage(Damage::kMd5, L"MD5 mismatch");
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
    job->contentTotal = contentLength_;
    if (facts.currentUrl != url_) job->originUrl = url_;
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
