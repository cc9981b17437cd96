#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/Log.h"
#include "app/Text.h"
#include "scenario/PackFiles.h"

namespace packfiles {

namespace {

std::string narrow(const std::wstring& path) { return text::wideToUtf8(path); }

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  bool closeChecked() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

class PosixSource : public PackFile {
 public:
  explicit PosixSource(int fd) : fd_(fd) {}
  bool rewind() override { return ::lseek(fd_.get(), 0, SEEK_SET) == 0; }
  bool read(uint8_t* buffer, size_t capacity, size_t& got) override {
    ssize_t n;
    do {
      n = ::read(fd_.get(), buffer, capacity);
    } while (n < 0 && errno == EINTR);
    got = n > 0 ? size_t(n) : 0;
    return n >= 0;
  }

 private:
  Descriptor fd_;
};

class PosixFolderSink : public un8z::EntrySink {
 public:
  PosixFolderSink(std::wstring destination, Log* log) : destination_(std::move(destination)), log_(log) {}

  bool beginEntry(const std::wstring& relativeName, uint64_t) override {
    path_ = destination_ + L"/" + relativeName;
    const std::wstring folder = text::folderPart(path_);
    if (createFolderTree(folder) != 0) return failed(L"Can't create folder " + folder);
    file_.reset(::open(narrow(path_).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (file_.get() < 0) return failed(L"Can't create file " + path_);
    return true;
  }

  bool writeBytes(const uint8_t* data, size_t size) override {
    while (size != 0) {
      const ssize_t n = ::write(file_.get(), data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return failed(L"Can't write file " + path_);
      data += n;
      size -= size_t(n);
    }
    return true;
  }

  bool endEntry() override { return file_.closeChecked() || failed(L"Can't write file " + path_); }

 private:
  bool failed(const std::wstring& message) {
    if (log_) log_->error(message + L", errno=" + std::to_wstring(errno));
    return false;
  }

  std::wstring destination_;
  Log* log_;
  std::wstring path_;
  Descriptor file_;
};

}  // namespace

bool isFolder(const std::wstring& path) {
  struct stat st {};
  return stat(narrow(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isFile(const std::wstring& path) {
  struct stat st {};
  return stat(narrow(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

unsigned long createFolderTree(const std::wstring& folder) {
  if (folder.empty()) return ENOENT;
  if (isFolder(folder)) return 0;
  int last = 0;
  for (size_t i = 1; i <= folder.size(); ++i) {
    if (i < folder.size() && folder[i] != L'/') continue;
    const std::string prefix = narrow(folder.substr(0, i));
    if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) last = errno;
  }
  if (isFolder(folder)) return 0;
  return last != 0 ? unsigned(last) : unsigned(EEXIST);
}

std::unique_ptr<PackFile> openPack(const std::wstring& path, Log* log) {
  const int fd = ::open(narrow(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (log) log->error(L"Can't open " + path + L", errno=" + std::to_wstring(errno));
    return nullptr;
  }
  return std::make_unique<PosixSource>(fd);
}

std::unique_ptr<un8z::EntrySink> folderSink(const std::wstring& destination, Log* log) {
  return std::make_unique<PosixFolderSink>(destination, log);
}

}  // namespace packfiles
