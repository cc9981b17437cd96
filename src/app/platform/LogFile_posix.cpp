// The native build's log backend: used by the portable libraries' tests.
#include <sys/stat.h>
#include <sys/time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "app/Text.h"
#include "app/platform/LogFile.h"

namespace logfile {

std::wstring tempFolder() {
  const char* dir = std::getenv("TMPDIR");
  std::string d = dir && *dir ? dir : "/tmp";
  if (d.back() != '/') d += '/';
  return text::utf8ToWide(d);
}

Log::Stamp utcNow() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  std::tm t{};
  time_t secs = tv.tv_sec;
  gmtime_r(&secs, &t);
  return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
          static_cast<int>(tv.tv_usec / 1000)};
}

// No ANSI code page here: UTF-8 keeps the line layout.
std::string toAnsi(const std::wstring& line, size_t maxBytes) {
  std::string out = text::wideToUtf8(line);
  return out.size() > maxBytes ? std::string() : out;
}

void append(const std::wstring& path, const std::string& bytes) {
  std::string p = text::wideToUtf8(path);
  struct stat st {};
  if (stat(p.c_str(), &st) == 0 && (static_cast<long long>(st.st_size) & ~0x3FFLL) > Log::kRestartAbove)
    std::remove(p.c_str());
  FILE* f = std::fopen(p.c_str(), "ab");
  if (!f) return;
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

int lastErrorCode() { return errno; }

void setLastErrorCode(int code) { errno = code; }

std::wstring systemErrorText(int code) { return code ? text::utf8ToWide(std::strerror(code)) + L"\n" : L""; }

}  // namespace logfile
