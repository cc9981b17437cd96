#include "ContentStore.h"

#include <sys/stat.h>

#include <array>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <vector>

#include <openssl/evp.h>

#include "formats/Md5.h"

namespace {

std::optional<std::string> realPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
  if (!resolved) return std::nullopt;
  return std::string(resolved.get());
}

bool hasParentSegment(const std::string& path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") == 0 && end - start == 2) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

ContentStore::ContentStore(const std::string& root) {
  auto real = realPath(root);
  struct stat st {};
  if (real && ::stat(real->c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    root_ = *real;
    if (root_.size() > 1 && root_.back() == '/') root_.pop_back();
  }
}

std::optional<ContentFile> ContentStore::resolve(const std::string& urlPath) const {
  if (!valid() || urlPath.empty() || urlPath[0] != '/') return std::nullopt;
  if (urlPath.find('\0') != std::string::npos || urlPath.find('\\') != std::string::npos) return std::nullopt;
  if (hasParentSegment(urlPath)) return std::nullopt;
  auto real = realPath(root_ + urlPath);
  if (!real) return std::nullopt;
  const std::string inside = root_ == "/" ? root_ : root_ + "/";
  if (real->compare(0, inside.size(), inside) != 0) return std::nullopt;
  struct stat st {};
  if (::stat(real->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  ContentFile file;
  file.path = *real;
  file.size = static_cast<uint64_t>(st.st_size);
  file.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return file;
}

std::string ContentStore::md5Of(const ContentFile& file) {
  std::promise<std::string> mine;
  uint64_t generation = 0;
  {
    std::unique_lock<std::mutex> guard(cacheLock_);
    auto it = cache_.find(file.path);
    if (it != cache_.end() && it->second.size == file.size && it->second.mtimeNs == file.mtimeNs) {
      std::shared_future<std::string> known = it->second.hex;
      generation = it->second.generation;
      guard.unlock();
      std::string hex = known.get();
      if (hex.empty()) forget(file.path, generation);
      return hex;
    }
    generation = ++nextGeneration_;
    cache_[file.path] = CachedDigest{file.size, file.mtimeNs, generation, mine.get_future().share()};
  }
  // A pack of hundreds of megabytes takes a while: the requests that came
  // meanwhile wait on the promise, each within the installer's patience,
  // rather than each reading the whole file again at the same time.
  ++digestsWorkedOut_;
  std::string hex = hashFile(file);
  mine.set_value(hex);
  // A failed reading is not kept: the next request tries again.
  if (hex.empty()) forget(file.path, generation);
  return hex;
}

void ContentStore::forget(const std::string& path, uint64_t generation) {
  std::lock_guard<std::mutex> guard(cacheLock_);
  auto it = cache_.find(path);
  if (it != cache_.end() && it->second.generation == generation) cache_.erase(it);
}

std::string ContentStore::hashFile(const ContentFile& file) {
  std::ifstream in(file.path, std::ios::binary);
  if (!in) return {};
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md5(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!md5 || EVP_DigestInit_ex(md5.get(), EVP_md5(), nullptr) != 1) return {};
  std::vector<char> buffer(1 << 20);
  uint64_t seen = 0;
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    std::streamsize got = in.gcount();
    if (got <= 0) break;
    EVP_DigestUpdate(md5.get(), buffer.data(), static_cast<size_t>(got));
    seen += static_cast<uint64_t>(got);
  }
  if (in.bad() || seen != file.size) return {};
  std::array<uint8_t, 16> digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(md5.get(), digest.data(), &length) != 1 || length != digest.size()) return {};
  return md5HexOf(digest);
}
