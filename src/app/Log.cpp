#include "app/Log.h"

#include "app/platform/LogFile.h"

namespace {
constexpr size_t kAnsiBufferBytes = 262144;

// Callers write a failure line and then its last-error line; the log's own
// file calls (an existing file opened with OPEN_ALWAYS sets 183) must not
// stand in for the caller's error in between.
class KeepLastError {
 public:
  KeepLastError() : code_(logfile::lastErrorCode()) {}
  ~KeepLastError() { logfile::setLastErrorCode(code_); }
  KeepLastError(const KeepLastError&) = delete;
  KeepLastError& operator=(const KeepLastError&) = delete;

 private:
  int code_;
};
}  // namespace

Log::Log(const wchar_t* fileName) : path_(logfile::tempFolder() + (fileName ? fileName : L"")) {}

Log::Log(ExplicitPath, std::wstring path) : path_(std::move(path)) {}

Log Log::atPath(const std::wstring& path) { return Log(ExplicitPath{}, path); }

Log::Log(Log&& other) noexcept : path_(std::move(other.path_)), tag_(std::move(other.tag_)) {}

std::wstring Log::escapeControls(const std::wstring& text) {
  static const wchar_t kHex[] = L"0123456789abcdef";
  std::wstring out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    if (c == L'\r') {
      out += L"\\r";
    } else if (c == L'\n') {
      out += L"\\n";
    } else if ((c < 0x20 && c != L'\t') || c == 0x7f || c == 0x85 || c == 0x2028 || c == 0x2029) {
      out += L"\\x";
      if (c > 0xff) {
        out += kHex[(c >> 12) & 0xf];
        out += kHex[(c >> 8) & 0xf];
      }
      out += kHex[(c >> 4) & 0xf];
      out += kHex[c & 0xf];
    } else {
      out += c;
    }
  }
  return out;
}

std::wstring Log::formatLine(const Stamp& s, const wchar_t* level, const wchar_t* tag,
                             const wchar_t* message, bool escape) {
  std::wstring lvl = level ? level : L"";
  // Messages carry texts from servers and campaigns: a line break in one
  // must not start a line of its own. The installer's own texts hold none.
  std::wstring msg = message ? message : L"";
  if (escape) msg = escapeControls(msg);
  std::wstring line = L"[" + std::to_wstring(s.year) + L"_" + std::to_wstring(s.month) + L"_" +
                      std::to_wstring(s.day) + L" " + std::to_wstring(s.hour) + L":" +
                      std::to_wstring(s.minute) + L":" + std::to_wstring(s.second) + L":" +
                      std::to_wstring(s.millisecond) + L"] " + lvl + L" : [" + tag + L"] : " + msg +
                      L"\r\n";
  // The formatting buffer holds level + message + 1024 characters (with its
  // terminator); a longer line is cut there.
  size_t capacity = lvl.size() + msg.size() + 1024;
  if (line.size() > capacity - 1) line.resize(capacity - 1);
  return line;
}

const wchar_t* Log::write(const wchar_t* level, const wchar_t* message) {
  if (!message) return message;
  append(level, message, true);
  return message;
}

void Log::append(const wchar_t* level, const wchar_t* message, bool escape) {
  KeepLastError keep;
  std::lock_guard<std::mutex> guard(lock_);
  std::wstring line = formatLine(logfile::utcNow(), level, tag_.c_str(), message, escape);
  logfile::append(path_, logfile::toAnsi(line, kAnsiBufferBytes));
}

std::wstring Log::systemText(unsigned long code) {
  std::wstring text = logfile::systemErrorText(static_cast<int>(code));
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' || text.back() == L'.'))
    text.pop_back();
  return text;
}

std::wstring Log::errorCodeText(unsigned long code) {
  const std::wstring text = code ? systemText(code) : std::wstring();
  return L"error code=" + std::to_wstring(code) + (text.empty() ? L"" : L" (" + text + L")");
}

void Log::writeLastError() {
  KeepLastError keep;
  int code = logfile::lastErrorCode();
  std::wstring text = L"LastErrorCode #" + std::to_wstring(code);
  std::wstring systemText = logfile::systemErrorText(code);
  if (!systemText.empty()) text += L", ErrorText: " + systemText;
  if (text.size() > 255) text.resize(255);
  // The system's sentence comes as the system gives it, line break and all.
  append(L"ERROR", text.c_str(), false);
}
