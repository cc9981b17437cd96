#include "ByteRange.h"

#include <cctype>
#include <optional>

namespace {

std::optional<uint64_t> parseNumber(const std::string& s) {
  if (s.empty() || s.size() > 19) return std::nullopt;
  uint64_t v = 0;
  for (char c : s) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  return v;
}

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

}  // namespace

ByteRange ByteRange::parse(const std::string& header, uint64_t size) {
  ByteRange whole;
  whole.last = size == 0 ? 0 : size - 1;
  const std::string prefix = "bytes=";
  std::string h = trimmed(header);
  if (h.compare(0, prefix.size(), prefix) != 0) return whole;
  std::string rangeText = trimmed(h.substr(prefix.size()));
  if (rangeText.find(',') != std::string::npos) return whole;
  size_t dash = rangeText.find('-');
  if (dash == std::string::npos) return whole;
  std::string a = trimmed(rangeText.substr(0, dash));
  std::string b = trimmed(rangeText.substr(dash + 1));

  ByteRange r;
  r.kind = Kind::Partial;
  if (a.empty()) {
    auto suffix = parseNumber(b);
    if (!suffix) return whole;
    if (*suffix == 0 || size == 0) return ByteRange{Kind::Unsatisfiable, 0, 0};
    r.first = *suffix >= size ? 0 : size - *suffix;
    r.last = size - 1;
    return r;
  }
  auto first = parseNumber(a);
  if (!first) return whole;
  std::optional<uint64_t> last;
  if (!b.empty()) {
    last = parseNumber(b);
    if (!last || *last < *first) return whole;
  }
  if (*first >= size) return ByteRange{Kind::Unsatisfiable, 0, 0};
  r.first = *first;
  r.last = (!last || *last >= size) ? size - 1 : *last;
  return r;
}
