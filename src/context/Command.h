#pragma once
// Every file-system change of the install is a command with one text
// argument, handed to a CommandSender that logs and executes it and returns a
// result text ("0" is success, anything else an error code as text).
//
// Threading: a command runs in the thread that sends it and keeps no shared
// state; only the log is shared, and it is thread-safe.
#include <cstddef>
#include <string>

class Log;

class Command {
 public:
  virtual std::wstring getName() const = 0;
  // Writes an error code into result only on failure; the caller presets "0".
  virtual void execute(wchar_t* result, size_t resultSize, Log* log) = 0;
  // Writes name, NUL, argument (terminated). length = name + 1 + argument.
  // Returns the name's length, or -1 (length 0, out empty) when the packed
  // form does not fit in outSize characters.
  virtual int pack(wchar_t* out, size_t outSize, size_t& length) const = 0;
  // Appends name + ":" + argument.
  virtual void describe(std::wstring& text) const = 0;
  virtual ~Command() = default;
};

class CommandWithOneArg : public Command {
 public:
  static constexpr size_t kArgumentCapacity = 520;  // characters, terminator included
  static constexpr size_t kPathCapacity = 260;

  explicit CommandWithOneArg(const std::wstring& argument);

  int pack(wchar_t* out, size_t outSize, size_t& length) const override;
  void describe(std::wstring& text) const override;

  const std::wstring& argument() const { return argument_; }
  // False when the argument given to the constructor was cut to fit.
  bool argumentFits() const { return fits_; }

 protected:
  // Writes text into the caller's result buffer, cut to fit.
  static void setResult(wchar_t* result, size_t resultSize, const std::wstring& text);
  // A cut argument names some other path; executing it could touch the wrong
  // file, so commands refuse it: result "206" and an ERROR line. True when
  // refused.
  bool refuseCutArgument(wchar_t* result, size_t resultSize, Log* log) const;
  // Splits "first|second" at the first '|'. False (result "87" or "206" and an
  // ERROR line) when there is no '|' or a half is too long for a path.
  bool splitPaths(std::wstring& first, std::wstring& second, wchar_t* result, size_t resultSize, Log* log) const;

 private:
  std::wstring argument_;
  bool fits_ = true;
};

class CommandSender {
 public:
  virtual bool send(Command& command, wchar_t* result, size_t resultSize) = 0;
  virtual void close() = 0;
  virtual ~CommandSender() = default;
};
