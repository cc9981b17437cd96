#pragma once
// The entry layer of ".ebz" packs: after deciphering and LZMA decoding, a
// pack is a run of entries "<name length>:<UTF-8 name><data length>:<data>"
// with no separator and no trailer. The parser below is push-driven: it is
// fed decoded bytes as they come and hands each entry to a sink as it goes,
// so its memory never depends on what a pack claims.
//
// Threading: one parser per unpack, used by one thread.
#include <cstddef>
#include <cstdint>
#include <string>

namespace un8z {

// Where entries go. Each call returns false to stop the unpack; the sink
// logs its own failures.
class EntrySink {
 public:
  virtual ~EntrySink() = default;
  // relativeName is already checked (see safeRelativeName) and uses the
  // platform's separator.
  virtual bool beginEntry(const std::wstring& relativeName, uint64_t size) = 0;
  virtual bool writeBytes(const uint8_t* data, size_t size) = 0;
  virtual bool endEntry() = 0;
};

// Longest entry name accepted, in bytes: far beyond any real path, small
// enough that a hostile length never drives an allocation.
constexpr uint64_t kMaxNameLength = 4096;

// Most entries one pack may hold. The product's packs hold a few thousand
// files; every entry is a file created, which is slow enough (tens a second
// under some file systems) that a pack of tiny entries would keep an install
// busy for hours without this bound.
constexpr uint64_t kMaxEntries = 65536;

// Turns a pack's UTF-8 entry name into a path relative to the destination,
// joined with `separator`. Refuses (returns false) every name that could land
// outside the destination or on a device: absolute names, drive letters and
// any other ':', UNC and other leading separators, ".." (and other all-dots)
// segments, reserved device names, NUL characters, and names that end up
// empty. Empty and "." segments are dropped.
bool safeRelativeName(const std::string& utf8Name, wchar_t separator, std::wstring& out);

class EntryParser;

// One step of the entry grammar. consume() takes bytes from [data, data+size),
// reports how many it used, and says whether its part of the entry is
// complete, still needs bytes, or is malformed.
class State {
 public:
  enum class Step { kNeedMore, kDone, kFailed };
  virtual ~State() = default;
  virtual Step consume(const uint8_t* data, size_t size, size_t& used, EntryParser& parser) = 0;
  // True when no byte of this state's part has been seen yet.
  virtual bool atStart() const = 0;
  virtual void reset() = 0;
};

// Reads a decimal length followed by ':' with overflow and limit checks.
class LengthReader {
 public:
  enum class Step { kNeedMore, kDone, kFailed };
  explicit LengthReader(uint64_t limit) : limit_(limit) {}
  Step take(uint8_t byte);
  uint64_t value() const { return value_; }
  bool atStart() const { return digits_ == 0; }
  void reset() { value_ = 0; digits_ = 0; }

 private:
  uint64_t limit_;
  uint64_t value_ = 0;
  int digits_ = 0;
};

// "<length>:<name>"
class NameState : public State {
 public:
  NameState() : length_(kMaxNameLength) {}
  Step consume(const uint8_t* data, size_t size, size_t& used, EntryParser& parser) override;
  bool atStart() const override { return length_.atStart() && !inName_; }
  void reset() override;

 private:
  LengthReader length_;
  bool inName_ = false;
  std::string name_;
};

// "<length>:<data>"
class ValueState : public State {
 public:
  ValueState() : length_(UINT64_MAX) {}
  Step consume(const uint8_t* data, size_t size, size_t& used, EntryParser& parser) override;
  bool atStart() const override { return length_.atStart() && !inData_; }
  void reset() override;

 private:
  LengthReader length_;
  bool inData_ = false;
  uint64_t remaining_ = 0;
};

class EntryParser {
 public:
  EntryParser(EntrySink& sink, wchar_t separator, uint64_t maxEntries = kMaxEntries)
      : sink_(sink), separator_(separator), maxEntries_(maxEntries) {}

  // False once the input is malformed or the sink refused; error() then says why.
  bool feed(const uint8_t* data, size_t size);
  // Call at the end of the stream: true only when it ended between entries.
  bool finish();

  const std::wstring& error() const { return error_; }
  uint64_t entryCount() const { return entries_; }

 private:
  friend class NameState;
  friend class ValueState;
  bool nameComplete(const std::string& utf8Name);
  bool dataBegins(uint64_t size);
  bool dataBytes(const uint8_t* data, size_t size);
  bool dataEnds();
  bool fail(const std::wstring& why);

  EntrySink& sink_;
  wchar_t separator_;
  uint64_t maxEntries_;
  NameState name_;
  ValueState value_;
  State* current_ = &name_;
  std::wstring entryName_;
  std::wstring error_;
  bool failed_ = false;
  uint64_t entries_ = 0;
};

}  // namespace un8z
