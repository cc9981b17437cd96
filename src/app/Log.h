#pragma once
// The installer's only diagnostic channel: one plain-text file in the user's
// temporary folder, opened and closed again for every line.
//
// Threading: any thread may call write() at any time; one mutex serialises
// whole lines, so lines of different threads never interleave.
#include <mutex>
#include <string>

class Log {
 public:
  // Builds the path from the user's temporary folder (with its trailing
  // separator) and fileName. Creates no file.
  explicit Log(const wchar_t* fileName);
  // For tests: a log at an explicit path.
  static Log atPath(const std::wstring& path);

  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;
  Log(Log&& other) noexcept;

  // Appends one line; a null message writes nothing. Returns the message.
  const wchar_t* write(const wchar_t* level, const wchar_t* message);
  void write(const wchar_t* level, const std::wstring& message) { write(level, message.c_str()); }
  void info(const std::wstring& message) { write(L"INFO", message.c_str()); }
  void error(const std::wstring& message) { write(L"ERROR", message.c_str()); }
  void warning(const std::wstring& message) { write(L"WARNING", message.c_str()); }

  // Writes the calling thread's last system error, with the system's text.
  void writeLastError();
  // "error code=112 (There is not enough space on the disk)": the number and
  // the system's own sentence beside it, without its line break.
  static std::wstring errorCodeText(unsigned long code);
  // The system's own sentence for an error code, without its line break.
  static std::wstring systemText(unsigned long code);

  const std::wstring& path() const { return path_; }

  // The line as written, before conversion to the ANSI code page. Exposed so
  // the stamp layout can be tested without reading the clock.
  struct Stamp { int year, month, day, hour, minute, second, millisecond; };
  // escape false leaves the message's control characters as they are (the
  // system's own error sentence ends in a line break of its own).
  static std::wstring formatLine(const Stamp& stamp, const wchar_t* level, const wchar_t* tag,
                                 const wchar_t* message, bool escape = true);
  // The text with line breaks and other control characters (tab aside)
  // written as "\r", "\n", "\xHH", so one message is always one line.
  static std::wstring escapeControls(const std::wstring& text);
  // A file of this many bytes or more (counted in whole KiB) starts over.
  static constexpr long long kRestartAbove = 204800;

 private:
  struct ExplicitPath {};
  Log(ExplicitPath, std::wstring path);
  void append(const wchar_t* level, const wchar_t* message, bool escape);

  std::mutex lock_;
  std::wstring path_;
  std::wstring tag_ = L"DEF";
};
