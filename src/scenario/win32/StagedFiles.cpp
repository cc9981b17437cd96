#include "scenario/win32/StagedFiles.h"

#include <cwctype>

#include "app/Log.h"
#include "app/Text.h"
#include "app/win32/PrivateFolder.h"
#include "scenario/RecordingSink.h"

namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::wstring lowered(std::wstring text) {
  for (wchar_t& c : text) c = wchar_t(std::towlower(c));
  return text;
}

std::wstring errorText() { return L", " + Log::errorCodeText(GetLastError()); }

// Makes the folders of relative (a file's path) below root, one by one, as
// real folders: an existing link is refused (unless replaceLinks, which
// removes it and makes a folder instead, with a WARN line). Empty on success,
// else what went wrong.
std::wstring makeFoldersBelow(const std::wstring& root, const std::wstring& relative, bool replaceLinks, Log* log) {
  for (size_t i = 0; i < relative.size(); ++i) {
    if (!isSeparator(relative[i])) continue;
    const std::wstring folder = root + L"\\" + relative.substr(0, i);
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      if (!replaceLinks) return L"the folder " + folder + L" is a link";
      if (log) log->warning(L"Link " + folder + L" removed: files are not written through links");
      if (!files::removeLink(folder)) return L"the link " + folder + L" cannot be removed" + errorText();
    } else if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      continue;
    } else if (attributes != INVALID_FILE_ATTRIBUTES) {
      return L"a file stands where the folder " + folder + L" goes";
    }
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return L"the folder " + folder + L" cannot be made" + errorText();
    }
  }
  return std::wstring();
}

}  // namespace

class StagedFiles::Sink : public packfiles::RecordingSink {
 public:
  Sink(StagedFiles& record, Log* log) : RecordingSink(log), record_(record) {}

  bool beginEntry(const std::wstring& relativeName, uint64_t size) override {
    enter(record_.staging_ + L"\\" + relativeName, size);
    const std::wstring why = makeFoldersBelow(record_.staging_, relativeName, false, nullptr);
    if (!why.empty()) {
      const DWORD code = GetLastError();
      return failed(L"Can't write " + path() + L": " + why, code ? code : DWORD(ERROR_ACCESS_DENIED));
    }
    if (!roomForEntry()) return false;
    // A pack may name a file twice; the later one wins, as it would on disk.
    const std::wstring key = lowered(relativeName);
    auto found = record_.index_.find(key);
    if (found != record_.index_.end()) {
      record_.entries_[found->second].file.reset();
      record_.entries_[found->second].relative.clear();
      record_.index_.erase(found);
    }
    // Whatever stands at the name (a hard link, another file) goes as a name:
    // the new file is created, never opened and overwritten.
    SetFileAttributesW(path().c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path().c_str());
    files::UniqueHandle file(CreateFileW(path().c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                         nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return failed(L"Can't create file " + path());
    record_.index_[key] = record_.entries_.size();
    record_.entries_.push_back(Entry{relativeName, size, std::move(file)});
    current_ = record_.entries_.back().file.get();
    return true;
  }

  bool writeBytes(const uint8_t* data, size_t size) override {
    return packfiles::writeAll(current_, data, size) || failed(L"Can't write file " + path());
  }

  // The file stays open, held, until it has moved.
  bool endEntry() override { return true; }

 private:
  StagedFiles& record_;
  HANDLE current_ = nullptr;
};

std::function<bool(size_t)> StagedFiles::afterEachMove;

std::unique_ptr<packfiles::FolderSink> StagedFiles::sink(Log* log) { return std::make_unique<Sink>(*this, log); }

std::vector<std::wstring> StagedFiles::names() const {
  std::vector<std::wstring> out;
  for (const Entry& entry : entries_) {
    if (!entry.relative.empty()) out.push_back(entry.relative);
  }
  return out;
}

void StagedFiles::release() {
  entries_.clear();
  index_.clear();
}

bool StagedFiles::moveOne(Entry& entry, const std::wstring& destination, Log* log) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(entry.file.get(), &size) || uint64_t(size.QuadPart) != entry.size) {
    if (log) log->error(L"Staged file " + entry.relative + L" is not the size the pack gave it; not moved");
    return false;
  }
  // Renamed through its own handle: the file that moves is the one written,
  // whatever happens to names meanwhile.
  const size_t nameBytes = destination.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = DWORD(nameBytes);
  std::copy(destination.begin(), destination.end(), rename->FileName);
  if (SetFileInformationByHandle(entry.file.get(), FileRenameInfo, rename, DWORD(buffer.size()))) {
    entry.file.reset();
    files::inheritAccessFromFolder(destination);
    return true;
  }
  // Another volume (or a system without renames by handle): copy from the
  // held handle, then let the staged file go with its folder.
  const DWORD renameError = GetLastError();
  LARGE_INTEGER start{};
  files::UniqueHandle out(CreateFileW(destination.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out || !SetFilePointerEx(entry.file.get(), start, nullptr, FILE_BEGIN)) {
    if (log) {
      log->error(L"Can't move " + staging_ + L"\\" + entry.relative + L" to " + destination +
                 L", " + Log::errorCodeText(renameError) + L"; copying then: " + Log::errorCodeText(GetLastError()));
    }
    return false;
  }
  std::vector<char> block(1 << 16);
  uint64_t copied = 0;
  for (;;) {
    DWORD n = 0, written = 0;
    if (!ReadFile(entry.file.get(), block.data(), DWORD(block.size()), &n, nullptr)) break;
    if (n == 0) break;
    if (!WriteFile(out.get(), block.data(), n, &written, nullptr) || written != n) break;
    copied += n;
  }
  if (copied != entry.size) {
    if (log) log->error(L"Can't copy " + entry.relative + L" to " + destination + errorText());
    return false;
  }
  FILE_DISPOSITION_INFO gone{TRUE};
  SetFileInformationByHandle(entry.file.get(), FileDispositionInfo, &gone, sizeof gone);
  entry.file.reset();
  return true;
}

void StagedFiles::removeStrays(Log* log) {
  // Everything still in the folder was put there by someone else (the moved
  // files are gone from it): say what, then remove it, links as links.
  std::vector<std::wstring> pending = {staging_};
  while (!pending.empty()) {
    const std::wstring folder = pending.back();
    pending.pop_back();
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) continue;
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        pending.push_back(path);
      } else if (log) {
        log->warning(L"Ignored " + path + L": the pack did not write it");
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  files::deleteFolderTree(staging_);
}

bool StagedFiles::moveInto(const std::wstring& target, std::wstring& blocking, Log* log) {
  firstError_ = 0;
  for (const Entry& entry : entries_) {
    if (entry.relative.empty()) continue;
    const std::wstring destination = target + L"\\" + entry.relative;
    const DWORD attributes = GetFileAttributesW(destination.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      blocking = destination;
      return false;
    }
    // A file some program holds open cannot be replaced: find that out before
    // anything moves, so the target is not left half new.
    files::UniqueHandle probe(
        CreateFileW(destination.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!probe) {
      if (log) log->error(L"Can't replace " + destination + errorText());
      blocking = destination;
      return false;
    }
  }
  bool moved = true;
  size_t done = 0;
  for (Entry& entry : entries_) {
    if (entry.relative.empty()) continue;
    const std::wstring destination = target + L"\\" + entry.relative;
    if (!files::createFolderTree(target)) {
      firstError_ = GetLastError();
      if (log) log->error(L"Can't create folder " + target + errorText());
      moved = false;
      break;
    }
    const std::wstring why = makeFoldersBelow(target, entry.relative, true, log);
    if (!why.empty()) {
      if (firstError_ == 0) firstError_ = GetLastError() ? GetLastError() : DWORD(ERROR_ACCESS_DENIED);
      if (log) log->error(L"Can't move " + entry.relative + L" into " + target + L": " + why);
      moved = false;
      continue;
    }
    // A link standing at the file's own name is replaced as a name.
    if (files::isLink(destination)) files::removeLink(destination);
    if (!moveOne(entry, destination, log)) {
      if (moved && firstError_ == 0) firstError_ = GetLastError();
      moved = false;
    }
    if (afterEachMove && !afterEachMove(++done)) return false;
  }
  release();
  removeStrays(log);
  return moved;
}
