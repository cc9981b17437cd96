#pragma once
// One "Range: bytes=..." header judged against a file size.
#include <cstdint>
#include <string>

struct ByteRange {
  enum class Kind { Whole, Partial, Unsatisfiable };
  Kind kind = Kind::Whole;
  uint64_t first = 0;
  uint64_t last = 0;  // inclusive

  // No header, a unit other than bytes, several ranges or text we cannot read
  // all give Whole: a server may always answer a Range request with the
  // whole file. An end past the file is cut to the file.
  static ByteRange parse(const std::string& header, uint64_t size);
  uint64_t length() const { return last - first + 1; }
};
