#include "download/DownloadOutput.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <cstdint>
#include <cstring>
#include <new>

#include "app/Text.h"
#include "download/FileNames.h"
#include "download/platform/OutputFile.h"

namespace download {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file) std::fclose(file);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The whole file when it exists and holds at most maxBytes.
bool readSmallFile(const std::wstring& path, size_t maxBytes, std::string* bytes) {
  FilePtr file(outputfile::openForReading(path));
  if (!file) return false;
  std::string read(maxBytes + 1, '\0');
  size_t count = std::fread(&read[0], 1, read.size(), file.get());
  if (count > maxBytes || std::ferror(file.get())) return false;
  read.resize(count);
  *bytes = std::move(read);
  return true;
}

// Writes a file beside path and renames it over path, so that a reader finds
// the old content or the new, never a mix.
bool replaceFile(const std::wstring& path, const std::string& bytes) {
  const std::wstring temporary = path + L".tmp";
  FilePtr file(outputfile::createForWriting(temporary));
  if (!file) return false;
  bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
  written = std::fclose(file.release()) == 0 && written;
  if (written && outputfile::renameOver(temporary, path)) return true;
  outputfile::removeFile(temporary);
  return false;
}

}  // namespace

FileDownloadOutput::FileDownloadOutput(std::wstring path, bool keepProgress)
    : path_(std::move(path)), keepProgress_(keepProgress) {}

FileDownloadOutput::~FileDownloadOutput() { closeFile(); }

void FileDownloadOutput::closeFile() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

bool FileDownloadOutput::resolvePath(const std::wstring& fileName) {
  if (!path_.empty() && (path_.back() == L'\\' || path_.back() == L'/')) {
    // The name comes from the server; only a plain file name may join the folder.
    if (!isSafeFileName(fileName)) return false;
    path_ += fileName;
  }
  return true;
}

bool FileDownloadOutput::createFresh() {
  closeFile();
  file_ = outputfile::createTruncated(path_);
  if (!file_) return false;
  // Every write is seeked to and must reach the file at once; unbuffered, a
  // write is one system call instead of a copy, a write and a flush.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  running_ = Md5();
  hashedEnd_ = 0;
  runningValid_ = true;
  restartPrefix();
  return true;
}

bool FileDownloadOutput::open(const std::wstring& fileName) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!resolvePath(fileName)) return false;
  tracking_ = false;
  resumed_ = 0;
  // A whole-body download cannot be resumed: an earlier state is void.
  if (keepProgress_) outputfile::removeFile(downloadStatePath(path_));
  return createFresh();
}

bool FileDownloadOutput::readResumableState(const ContentIdentity& content, DownloadState* state) {
  // Without a digest or a strong tag, bytes of an older content of the same
  // length would pass unnoticed.
  if (!content.identifiable()) return false;
  std::string text;
  constexpr size_t kLongestState = 16384;
  if (!readSmallFile(downloadStatePath(path_), kLongestState, &text)) return false;
  DownloadState stored;
  if (!DownloadState::parse(text, &stored) || !(stored.content == content)) return false;
  FilePtr file(outputfile::openExisting(path_));
  if (!file) return false;
  long long needed = 0;
  for (const ChunkProgress& chunk : stored.chunks) {
    if (chunk.done > 0 && chunk.offset + chunk.done > needed) needed = chunk.offset + chunk.done;
  }
  long long size = outputfile::sizeOf(file.get());
  if (size < needed || size > content.length) return false;
  closeFile();
  file_ = file.release();
  std::setvbuf(file_, nullptr, _IONBF, 0);
  *state = std::move(stored);
  return true;
}

bool FileDownloadOutput::openChunked(const std::wstring& fileName, const ContentIdentity& content,
                                     std::vector<ChunkProgress>* chunks) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!resolvePath(fileName)) return false;
  tracking_ = false;
  unsaved_ = 0;
  resumed_ = 0;
  if (!keepProgress_) return createFresh();

  DownloadState stored;
  if (readResumableState(content, &stored)) {
    // The digest of what is already on disk is read at the end.
    running_ = Md5();
    hashedEnd_ = 0;
    runningValid_ = true;
    *chunks = stored.chunks;
    resumed_ = stored.bytesHeld();
    restartPrefix();
    for (const ChunkProgress& chunk : stored.chunks) notePrefix(chunk.offset, chunk.done);
    state_ = std::move(stored);
    tracking_ = true;
    return true;
  }
  outputfile::removeFile(downloadStatePath(path_));
  if (!createFresh()) return false;
  state_ = DownloadState();
  state_.content = content;
  state_.chunks = *chunks;
  for (ChunkProgress& chunk : state_.chunks) chunk.done = 0;
  tracking_ = content.identifiable() && state_.isValid();
  if (tracking_) saveState();
  return true;
}

long long FileDownloadOutput::bytesResumed() {
  std::lock_guard<std::mutex> guard(lock_);
  return resumed_;
}

void FileDownloadOutput::discardProgress() {
  std::lock_guard<std::mutex> guard(lock_);
  tracking_ = false;
  outputfile::removeFile(downloadStatePath(path_));
}

void FileDownloadOutput::noteWritten(long long offset, long long count) {
  for (ChunkProgress& chunk : state_.chunks) {
    if (offset < chunk.offset || offset >= chunk.offset + chunk.limit) continue;
    // Only bytes that continue the chunk's run from its first byte count; a
    // chunk fetched again from its start counts from there once more.
    if (offset <= chunk.offset + chunk.done) {
      long long end = offset + count - chunk.offset;
      chunk.done = end < chunk.limit ? end : chunk.limit;
    }
    break;
  }
  unsaved_ += count;
  if (unsaved_ >= kStateSaveBytes) saveState();
}

void FileDownloadOutput::saveState() {
  unsaved_ = 0;
  replaceFile(downloadStatePath(path_), state_.serialize());
}

std::wstring FileDownloadOutput::md5() {
  std::lock_guard<std::mutex> guard(lock_);
  if (!file_) return std::wstring();
  Md5 digest;
  long long from = 0;
  if (runningValid_) {
    digest = running_;
    from = hashedEnd_;
  }
  if (!outputfile::seekTo(file_, from)) return std::wstring();
  constexpr size_t kBlock = 262144;
  std::unique_ptr<char[]> block(new (std::nothrow) char[kBlock]);
  if (!block) return std::wstring();
  size_t n;
  while ((n = std::fread(block.get(), 1, kBlock, file_)) > 0) digest.update(block.get(), n);
  if (std::ferror(file_)) {
    std::clearerr(file_);
    return std::wstring();
  }
  return text::toWide(md5HexOf(digest.finish()));
}

int FileDownloadOutput::size() {
  std::lock_guard<std::mutex> guard(lock_);
  if (!file_) return -1;
  return static_cast<int>(outputfile::sizeOf(file_));
}

bool FileDownloadOutput::write(const char* bytes, int offset, int count) {
  if (!bytes || offset < 0 || count <= 0) return false;
  std::lock_guard<std::mutex> guard(lock_);
  if (!file_ || !outputfile::seekTo(file_, offset)) return false;
  bool written = std::fwrite(bytes, 1, static_cast<size_t>(count), file_) == static_cast<size_t>(count);
  written = std::fflush(file_) == 0 && written;
  if (!written || offset < hashedEnd_) {
    runningValid_ = false;
  } else if (runningValid_ && offset == hashedEnd_) {
    running_.update(bytes, static_cast<size_t>(count));
    hashedEnd_ += count;
  }
  if (written && tracking_) noteWritten(offset, count);
  if (written) notePrefix(offset, count);
  return written;
}

void FileDownloadOutput::restartPrefix() {
  ++generation_;
  prefix_ = 0;
  runs_.clear();
  ended_ = false;
  prefixChanged_.notify_all();
}

void FileDownloadOutput::notePrefix(long long offset, long long count) {
  if (count <= 0) return;
  const long long end = offset + count;
  if (offset < prefix_) {
    // Bytes a reader may already have used are replaced.
    ++generation_;
  }
  if (offset <= prefix_) {
    if (end > prefix_) prefix_ = end;
  } else {
    // A chunk's writes follow one another: extend its run rather than add one.
    auto next = runs_.upper_bound(offset);
    if (next != runs_.begin() && std::prev(next)->second >= offset) {
      auto run = std::prev(next);
      if (end > run->second) run->second = end;
    } else {
      long long& runEnd = runs_[offset];
      if (end > runEnd) runEnd = end;
    }
  }
  while (!runs_.empty() && runs_.begin()->first <= prefix_) {
    if (runs_.begin()->second > prefix_) prefix_ = runs_.begin()->second;
    runs_.erase(runs_.begin());
  }
  prefixChanged_.notify_all();
}

FileDownloadOutput::Prefix FileDownloadOutput::waitForPrefix(long long past, unsigned generation, int timeoutMs) {
  std::unique_lock<std::mutex> guard(lock_);
  prefixChanged_.wait_for(guard, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                          [&] { return ended_ || generation_ != generation || prefix_ > past; });
  Prefix now;
  now.bytes = prefix_;
  now.generation = generation_;
  now.ended = ended_;
  now.ok = ok_;
  return now;
}

void FileDownloadOutput::finish(bool ok) {
  std::lock_guard<std::mutex> guard(lock_);
  ok_ = ok;
  ended_ = true;
  prefixChanged_.notify_all();
  // What a broken-off download holds is kept for the next run.
  if (tracking_) saveState();
  tracking_ = false;
  closeFile();
}

std::wstring FileDownloadOutput::name() {
  std::lock_guard<std::mutex> guard(lock_);
  return path_;
}

bool FileDownloadOutput::isOk() {
  std::lock_guard<std::mutex> guard(lock_);
  return ok_;
}

// The list never grows past its reserve, so adding a block cannot throw.
MemoryDownloadOutput::MemoryDownloadOutput() { blocks_.reserve(kMaxSize / kBlockSize); }

bool MemoryDownloadOutput::open(const std::wstring&) { return true; }

std::wstring MemoryDownloadOutput::md5() { return std::wstring(); }

int MemoryDownloadOutput::size() {
  std::lock_guard<std::mutex> guard(lock_);
  return size_;
}

bool MemoryDownloadOutput::write(const char* bytes, int offset, int count) {
  if (!bytes || offset < 0 || count <= 0) return false;
  if (offset > kMaxSize - count) return false;
  std::lock_guard<std::mutex> guard(lock_);
  int position = offset;
  int end = offset + count;
  while (position < end) {
    size_t index = static_cast<size_t>(position / kBlockSize);
    int inBlock = position % kBlockSize;
    int part = std::min(kBlockSize - inBlock, end - position);
    while (blocks_.size() <= index) {
      // A download thread has nobody to catch an exception: running out of
      // memory is a failed write like any other.
      std::unique_ptr<char[]> block(new (std::nothrow) char[kBlockSize]);
      if (!block) return false;
      std::memset(block.get(), 0, kBlockSize);
      blocks_.push_back(std::move(block));
    }
    std::memcpy(blocks_[index].get() + inBlock, bytes + (position - offset), static_cast<size_t>(part));
    position += part;
    size_ = std::max(size_, position);
  }
  return true;
}

void MemoryDownloadOutput::finish(bool ok) {
  std::lock_guard<std::mutex> guard(lock_);
  ok_ = ok;
}

std::wstring MemoryDownloadOutput::name() { return L"memoryOutput"; }

bool MemoryDownloadOutput::isOk() {
  std::lock_guard<std::mutex> guard(lock_);
  return ok_;
}

std::string MemoryDownloadOutput::content() {
  std::lock_guard<std::mutex> guard(lock_);
  std::string out;
  out.reserve(static_cast<size_t>(size_));
  int left = size_;
  for (size_t i = 0; left > 0 && i < blocks_.size(); ++i) {
    int part = std::min(left, kBlockSize);
    out.append(blocks_[i].get(), static_cast<size_t>(part));
    left -= part;
  }
  return out;
}

}  // namespace download
