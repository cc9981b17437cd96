#pragma once
// Inflates one stream in the LZMA "alone" form (a 13-byte header, then the
// raw stream), the form the installer keeps its text resources in so that
// the download stays small.
#include <cstddef>
#include <string>

namespace lzma_alone {

// The whole inflated stream in out; false (out emptied) when the stream is
// damaged, ends early, has bytes after its end, asks for a dictionary over
// 1 MiB, or would inflate past limit bytes.
bool inflate(const void* data, size_t size, size_t limit, std::string& out);

}  // namespace lzma_alone
