#include "download/DownloadOutput.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "app/Text.h"
#include "download/FileNames.h"
#include "download/platform/OutputFile.h"

namespace download {

FileDownloadOutput::FileDownloadOutput(std::wstring path) : path_(std::move(path)) {}

FileDownloadOutput::~FileDownloadOutput() { closeFile(); }

void FileDownloadOutput::closeFile() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

bool FileDownloadOutput::open(const std::wstring& fileName) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!path_.empty() && (path_.back() == L'\\' || path_.back() == L'/')) {
    // The name comes from the server; only a plain file name may join the folder.
    if (!isSafeFileName(fileName)) return false;
    path_ += fileName;
  }
  closeFile();
  file_ = outputfile::createTruncated(path_);
  if (!file_) return false;
  // Every write is seeked to and must reach the file at once; unbuffered, a
  // write is one system call instead of a copy, a write and a flush.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  running_ = Md5();
  hashedEnd_ = 0;
  runningValid_ = true;
  return true;
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
  return written;
}

void FileDownloadOutput::finish(bool ok) {
  std::lock_guard<std::mutex> guard(lock_);
  ok_ = ok;
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
