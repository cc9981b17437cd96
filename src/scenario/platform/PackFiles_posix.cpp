#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <vector>

#include "app/Log.h"
#include "app/Text.h"
#include "scenario/PackFiles.h"
#include "scenario/RecordingSink.h"

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

class PosixFolderSink : public RecordingSink {
 public:
  PosixFolderSink(std::wstring destination, Log* log) : RecordingSink(log), destination_(std::move(destination)) {}

  bool beginEntry(const std::wstring& relativeName, uint64_t size) override {
    enter(destination_ + L"/" + relativeName, size);
    const std::wstring folder = text::folderPart(path());
    if (const unsigned long made = createFolderTree(folder)) return failed(L"Can't create folder " + folder, made);
    if (!roomForEntry()) return false;
    // Whatever stands at the name (a link, a hard link, an older file) goes
    // as a name: the new file is created, never opened through it.
    const std::string name = narrow(path());
    if (::unlink(name.c_str()) != 0 && errno != ENOENT) return failed(L"Can't replace file " + path());
    file_.reset(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (file_.get() < 0) return failed(L"Can't create file " + path());
    return true;
  }

  bool writeBytes(const uint8_t* data, size_t size) override {
    while (size != 0) {
      const ssize_t n = ::write(file_.get(), data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return failed(L"Can't write file " + path());
      data += n;
      size -= size_t(n);
    }
    return true;
  }

  bool endEntry() override { return file_.closeChecked() || failed(L"Can't write file " + path()); }

 private:
  std::wstring destination_;
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

std::unique_ptr<FolderSink> folderSink(const std::wstring& destination, Log* log) {
  return std::make_unique<PosixFolderSink>(destination, log);
}

bool freeSpace(const std::wstring& path, uint64_t& bytes) {
  std::wstring folder = path;
  while (!folder.empty() && !isFolder(folder)) {
    const size_t cut = folder.find_last_of(L'/');
    if (cut == std::wstring::npos) return false;
    folder.resize(cut == 0 ? 1 : cut);
  }
  struct statvfs st {};
  if (folder.empty() || ::statvfs(narrow(folder).c_str(), &st) != 0) return false;
  bytes = uint64_t(st.f_bavail) * st.f_frsize;
  return true;
}

unsigned long probeWrite(const std::wstring& folder) {
  std::vector<std::wstring> made;
  for (std::wstring f = folder; !f.empty() && !isFolder(f);) {
    made.push_back(f);
    const size_t cut = f.find_last_of(L'/');
    if (cut == std::wstring::npos || cut == 0) break;
    f.resize(cut);
  }
  unsigned long code = createFolderTree(folder);
  if (code == 0) {
    const std::string probe = narrow(folder + L"/~vexa-probe-" + std::to_wstring(::getpid()) + L".tmp");
    Descriptor file(::open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (file.get() < 0) {
      code = unsigned(errno);
    } else {
      const char byte = 0;
      if (::write(file.get(), &byte, 1) != 1) code = unsigned(errno ? errno : EIO);
      file.reset();
      ::unlink(probe.c_str());
    }
  }
  for (const std::wstring& f : made) ::rmdir(narrow(f).c_str());
  return code;
}

std::wstring volumeOf(const std::wstring& path) { return path; }

unsigned long lastSystemError() { return unsigned(errno); }
bool isNoSpaceError(unsigned long code) { return code == ENOSPC || code == EDQUOT; }
unsigned long noSpaceError() { return ENOSPC; }
unsigned long genericWriteError() { return EIO; }
std::wstring errorSuffix(unsigned long code) { return L", errno=" + std::to_wstring(code); }

}  // namespace packfiles
