#pragma once
// Scratch folders and small file helpers for tests, in both builds.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "app/Text.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#include <ftw.h>
#endif

namespace testfiles {

inline std::string narrow(const std::wstring& p) { return text::wideToUtf8(p); }

inline bool exists(const std::wstring& path) {
#ifdef _WIN32
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
#else
  struct stat st {};
  return stat(narrow(path).c_str(), &st) == 0;
#endif
}

inline std::string readFile(const std::wstring& path) {
#ifdef _WIN32
  std::ifstream in(path.c_str(), std::ios::binary);
#else
  std::ifstream in(narrow(path), std::ios::binary);
#endif
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::wstring& path, const std::string& bytes) {
#ifdef _WIN32
  std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
#else
  std::ofstream out(narrow(path), std::ios::binary | std::ios::trunc);
#endif
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A fresh folder under the temporary folder, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir() {
    std::random_device rd;
#ifdef _WIN32
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    path_ = std::wstring(tmp) + L"vexatest_" + std::to_wstring(rd());
    CreateDirectoryW(path_.c_str(), nullptr);
#else
    const char* t = std::getenv("TMPDIR");
    std::string base = (t && *t) ? t : "/tmp";
    std::string p = base + "/vexatest_" + std::to_string(rd());
    mkdir(p.c_str(), 0700);
    path_ = text::utf8ToWide(p);
#endif
  }
  ~ScratchDir() { removeTree(path_); }
  const std::wstring& path() const { return path_; }

  static void removeTree(const std::wstring& path) {
#ifdef _WIN32
    std::wstring from = path + std::wstring(1, L'\0');
    SHFILEOPSTRUCTW op{};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NO_UI;
    SHFileOperationW(&op);
#else
    nftw(narrow(path).c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); },
         16, FTW_DEPTH | FTW_PHYS);
#endif
  }

 private:
  std::wstring path_;
};

}  // namespace testfiles
