#include "context/win32/ResultFile.h"

#include <windows.h>

#include "app/Log.h"
#include "app/OptionTable.h"
#include "app/win32/Files.h"
#include "context/InstallResult.h"
#include "context/win32/InstallContext.h"

namespace resultfile {

namespace {

std::wstring folderOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return L".";
  if (slash == 0 || (slash == 2 && path[1] == L':')) return path.substr(0, slash + 1);
  return path.substr(0, slash);
}

class FileHandle {
 public:
  explicit FileHandle(HANDLE h) : h_(h) {}
  ~FileHandle() { close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }
  void close() {
    if (valid()) CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE h_;
};

bool writeAll(HANDLE file, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    DWORD chunk = static_cast<DWORD>(bytes.size() - done);
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) return false;
    done += written;
  }
  return true;
}

}  // namespace

bool replaceAtomically(const std::wstring& path, const std::string& bytes, unsigned long& error) {
  wchar_t temp[MAX_PATH + 1] = {};
  // A deployment script names a folder of its own that need not exist yet.
  if (!path.empty() && !files::isFolder(folderOf(path))) files::createFolderTree(folderOf(path));
  if (path.empty() || !GetTempFileNameW(folderOf(path).c_str(), L"vxr", 0, temp)) {
    error = path.empty() ? ERROR_INVALID_NAME : GetLastError();
    return false;
  }
  FileHandle file(CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  bool ok = file.valid() && writeAll(file.get(), bytes) && FlushFileBuffers(file.get());
  if (!ok) error = GetLastError();
  file.close();
  if (ok && !MoveFileExW(temp, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = GetLastError();
    ok = false;
  }
  if (!ok) DeleteFileW(temp);
  return ok;
}

namespace {

// The path "/resultFile" names; empty (with an ERROR line when the option
// came without one) when none.
std::wstring askedPath(const OptionTable& options, Log* log) {
  if (!options.hasOption(L"/resultFile")) return std::wstring();
  auto path = options.optionValue(L"/resultFile");
  if (!path || path->empty()) {
    if (log) log->error(L"/resultFile needs a path; no result file written");
    return std::wstring();
  }
  return *path;
}

void write(const std::wstring& path, const InstallResult& result, Log* log) {
  unsigned long error = 0;
  if (replaceAtomically(path, installResultJson(result), error)) {
    if (log) log->info(L"Result file written: " + path);
  } else if (log) {
    log->error(L"Cannot write the result file " + path + L" (error " + std::to_wstring(error) + L")");
  }
}

}  // namespace

void writeIfAsked(InstallContext& context) {
  Log* log = context.log();
  const std::wstring path = askedPath(context.options(), log);
  if (path.empty()) return;

  InstallResult result;
  result.exitCode = context.exitCode;
  result.installMode = context.installMode;
  result.installFolder = context.installFolder();
  result.version = context.versionText();
  result.timings = context.stopwatch().trace();
  result.errors = context.errors_;
  result.downloads = context.downloads().records();
  result.layout = context.hasOption(L"/layout");
  // An install that ended badly without a noted cause still says so.
  failure::Failure why = context.failures().get();
  if (!why && context.exitCode == 3 && !result.layout) why = failure::damaged(L"the product", L"its files are missing");
  if (context.exitCode != 0 && context.exitCode != 1) {
    result.cause = failure::token(why.cause);
    result.causeText = why.text;
  }

  write(path, result, log);
}

void writeRefusalIfAsked(const OptionTable& options, int exitCode, const failure::Failure& why, Log* log) {
  const std::wstring path = askedPath(options, log);
  if (path.empty()) return;
  InstallResult result;
  result.exitCode = exitCode;
  result.installMode = -1;
  result.cause = failure::token(why.cause);
  result.causeText = why.text;
  write(path, result, log);
}

}  // namespace resultfile
