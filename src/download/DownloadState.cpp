#include "download/DownloadState.h"

#include <cstdint>

#include "app/Text.h"
#include "download/HttpFacts.h"

namespace download {
namespace {

const char kHeader[] = "vexa-download-state 1";

// A decimal number of at most 18 digits (so it cannot overflow), no sign,
// nothing else.
bool readNumber(const std::string& digits, long long* value) {
  if (digits.empty() || digits.size() > 18) return false;
  long long result = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + (c - '0');
  }
  *value = result;
  return true;
}

bool isMd5Hex(const std::string& text) {
  if (text.size() != 32) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// Splits "key rest" at the first blank.
bool splitLine(const std::string& line, std::string* key, std::string* rest) {
  size_t blank = line.find(' ');
  if (blank == std::string::npos) return false;
  *key = line.substr(0, blank);
  *rest = line.substr(blank + 1);
  return true;
}

bool hasControlCharacter(const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) return true;
  }
  return false;
}

}  // namespace

std::string DownloadState::serialize() const {
  std::string out;
  out += kHeader;
  out += '\n';
  out += "url " + text::wideToUtf8(content.url) + '\n';
  out += "length " + std::to_string(content.length) + '\n';
  out += "md5 " + text::wideToUtf8(content.md5) + '\n';
  if (!content.etag.empty()) out += "etag " + text::wideToUtf8(content.etag) + '\n';
  for (const ChunkProgress& chunk : chunks) {
    out += "chunk " + std::to_string(chunk.offset) + ' ' + std::to_string(chunk.limit) + ' ' +
           std::to_string(chunk.done) + '\n';
  }
  return out;
}

bool DownloadState::parse(const std::string& text, DownloadState* state) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    // Every line ends with a line feed: a file cut short by a crash shows
    // itself by a last line without one.
    if (end == std::string::npos) return false;
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (lines.size() < 5 || lines[0] != kHeader) return false;

  DownloadState read;
  std::string key, rest;
  if (!splitLine(lines[1], &key, &rest) || key != "url" || rest.empty() || hasControlCharacter(rest)) return false;
  read.content.url = text::utf8ToWide(rest);
  if (!splitLine(lines[2], &key, &rest) || key != "length" || !readNumber(rest, &read.content.length)) return false;
  if (!splitLine(lines[3], &key, &rest) || key != "md5" || !(rest.empty() || isMd5Hex(rest))) return false;
  read.content.md5 = text::utf8ToWide(rest);
  size_t firstChunk = 4;
  if (splitLine(lines[4], &key, &rest) && key == "etag") {
    read.content.etag = text::utf8ToWide(rest);
    if (!isStrongEtag(read.content.etag)) return false;
    ++firstChunk;
  }
  if (!read.content.identifiable()) return false;

  if (lines.size() - firstChunk > kMaxChunks) return false;
  for (size_t i = firstChunk; i < lines.size(); ++i) {
    if (!splitLine(lines[i], &key, &rest) || key != "chunk") return false;
    std::string numbers[3];
    for (int n = 0; n < 2; ++n) {
      size_t blank = rest.find(' ');
      if (blank == std::string::npos) return false;
      numbers[n] = rest.substr(0, blank);
      rest = rest.substr(blank + 1);
    }
    numbers[2] = rest;
    ChunkProgress chunk;
    if (!readNumber(numbers[0], &chunk.offset) || !readNumber(numbers[1], &chunk.limit) ||
        !readNumber(numbers[2], &chunk.done)) {
      return false;
    }
    read.chunks.push_back(chunk);
  }
  if (!read.isValid()) return false;
  *state = std::move(read);
  return true;
}

bool DownloadState::isValid() const {
  if (content.length <= 0 || chunks.empty() || chunks.size() > kMaxChunks) return false;
  long long next = 0;
  for (const ChunkProgress& chunk : chunks) {
    if (chunk.offset != next || chunk.limit <= 0 || chunk.done < 0 || chunk.done > chunk.limit) return false;
    if (chunk.limit > content.length - next) return false;
    next += chunk.limit;
  }
  return next == content.length;
}

long long DownloadState::bytesHeld() const {
  long long held = 0;
  for (const ChunkProgress& chunk : chunks) held += chunk.done;
  return held;
}

std::wstring downloadStatePath(const std::wstring& filePath) { return filePath + L".state"; }

}  // namespace download
