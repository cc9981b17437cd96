#pragma once
// What a file download has fetched so far, kept beside the file so that a
// later run can pick up where this one stopped: the content's identity (the
// address asked for, its length and the server's MD5) and, per chunk, how many
// bytes from the chunk's first byte are already on disk. The content is known
// by the server's MD5, or, from a server that sends none, by its strong ETag.
//
// Stored as a few lines of UTF-8 text:
//   vexa-download-state 1
//   url <address>
//   length <bytes>
//   md5 <32 lower-case hex digits, or nothing after the blank>
//   etag <strong entity tag>           (only when the server sent one)
//   chunk <offset> <limit> <done>      (one line per chunk, in order)
#include <string>
#include <vector>

namespace download {

struct ChunkProgress {
  long long offset = 0;
  long long limit = 0;
  long long done = 0;

  long long remaining() const { return limit - done; }
  bool operator==(const ChunkProgress& other) const {
    return offset == other.offset && limit == other.limit && done == other.done;
  }
};

// Which content a download is of: a resumed download must be of the same.
struct ContentIdentity {
  std::wstring url;
  long long length = 0;
  std::wstring md5;
  // Strong ETag, quotes included; empty when none.
  std::wstring etag;

  bool operator==(const ContentIdentity& other) const {
    return url == other.url && length == other.length && md5 == other.md5 && etag == other.etag;
  }
  // Whether a later run could tell this content from another of the same
  // address and length.
  bool identifiable() const { return !md5.empty() || !etag.empty(); }
};

struct DownloadState {
  // Most chunks a state may list: far above any connection count, and it
  // keeps a corrupt file from costing memory.
  static constexpr size_t kMaxChunks = 64;

  ContentIdentity content;
  std::vector<ChunkProgress> chunks;

  // The text above. Only a state that isValid() is worth writing.
  std::string serialize() const;
  // Reads the text; false (and the state untouched) for anything that is not
  // a valid state, down to a stray character.
  static bool parse(const std::string& text, DownloadState* state);

  // The chunks cover the content from its first byte to its last without a
  // gap or an overlap, and each holds no more than its own bytes.
  bool isValid() const;
  long long bytesHeld() const;
  bool complete() const { return bytesHeld() == content.length; }
};

// The state file that belongs to a downloaded file.
std::wstring downloadStatePath(const std::wstring& filePath);

}  // namespace download
