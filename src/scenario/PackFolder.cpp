#include "scenario/PackFolder.h"

#include <cstdio>
#include <cwctype>

#include "download/FileNames.h"
#include "download/HttpFacts.h"
#include "download/platform/OutputFile.h"
#include "formats/Json.h"

namespace packfolder {
namespace {

bool sameNameNoCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

bool isHexDigest(const std::wstring& text) {
  if (text.size() != 32) return false;
  for (wchar_t c : text) {
    if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'))) return false;
  }
  return true;
}

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The part after the last '/' or '\'.
std::wstring lastPart(const std::wstring& path) {
  const size_t at = path.find_last_of(L"\\/");
  return at == std::wstring::npos ? path : path.substr(at + 1);
}

// Reads a file of the folder the way a static server answers a GET.
class FolderConnection : public download::IHttpConnection {
 public:
  FolderConnection(std::wstring path, std::shared_ptr<const Manifest> manifest)
      : path_(std::move(path)), manifest_(std::move(manifest)) {
    facts_.currentUrl = path_;
  }
  ~FolderConnection() override { closeHandles(); }

  bool openRequest(Log*, bool, int length, int offset) override {
    closeHandles();
    facts_ = download::ResponseFacts();
    facts_.currentUrl = path_;
    const Entry* entry = manifest_ ? manifest_->find(lastPart(path_)) : nullptr;
    file_ = entry ? download::outputfile::openForReading(path_) : nullptr;
    if (!file_) {
      // Missing, or not vouched for: the pack's next host takes over.
      facts_.status = 404;
      facts_.contentLength = 0;
      return true;
    }
    const long long size = download::outputfile::sizeOf(file_);
    facts_.acceptsRanges = true;
    facts_.contentMd5 = entry->md5;
    facts_.fileName = lastPart(path_);
    if (!download::wantsRangeHeader(true, offset, length)) {
      facts_.status = 200;
      facts_.contentLength = size;
      left_ = size;
      return true;
    }
    if (offset < 0 || offset >= size) {
      facts_.status = 416;
      facts_.rangeTotal = size;
      facts_.contentLength = 0;
      left_ = 0;
      return true;
    }
    long long count = length < 0 ? size - offset : length;
    if (offset + count > size) count = size - offset;
    if (!download::outputfile::seekTo(file_, offset)) return false;
    facts_.status = 206;
    facts_.rangeStart = offset;
    facts_.rangeTotal = size;
    facts_.contentLength = count;
    left_ = count;
    return true;
  }
  void setIfRange(const std::wstring&) override {}
  download::ReadStatus read(char* buffer, size_t capacity, size_t* received) override {
    *received = 0;
    if (!file_) return download::ReadStatus::kFailed;
    if (left_ <= 0) return download::ReadStatus::kEnd;
    const size_t want = static_cast<size_t>(static_cast<long long>(capacity) < left_ ? capacity : left_);
    const size_t got = std::fread(buffer, 1, want, file_);
    if (got == 0) return std::ferror(file_) ? download::ReadStatus::kFailed : download::ReadStatus::kEnd;
    left_ -= static_cast<long long>(got);
    *received = got;
    return download::ReadStatus::kData;
  }
  const download::ResponseFacts& facts() const override { return facts_; }
  void closeHandles() override {
    if (file_) std::fclose(file_);
    file_ = nullptr;
  }
  void closeConnection() override {}

 private:
  std::wstring path_;
  std::shared_ptr<const Manifest> manifest_;
  download::ResponseFacts facts_;
  std::FILE* file_ = nullptr;
  long long left_ = 0;
};

}  // namespace

const Entry* Manifest::find(const std::wstring& file) const {
  for (const Entry& entry : entries) {
    if (sameNameNoCase(entry.file, file)) return &entry;
  }
  return nullptr;
}

std::wstring manifestText(const Manifest& manifest) {
  std::wstring text = L"{\n  \"layout\": 1,\n  \"files\": [";
  bool first = true;
  for (const Entry& e : manifest.entries) {
    text += first ? L"\n" : L",\n";
    first = false;
    text += L"    {\"name\": " + jsonStringText(e.name) + L", \"file\": " + jsonStringText(e.file) +
            L", \"length\": " + std::to_wstring(e.length) + L", \"md5\": " + jsonStringText(e.md5) +
            L", \"source\": " + jsonStringText(e.source) + L"}";
  }
  text += first ? L"]\n}\n" : L"\n  ]\n}\n";
  return text;
}

bool parseManifest(const std::wstring& text, Manifest* manifest) {
  JsonValue root = parseJson(text);
  if (root.type() != JsonValue::kObject) return false;
  const JsonValue* files = root.find(L"files");
  if (!files || files->type() != JsonValue::kArray) return false;
  Manifest read;
  for (const JsonValue& item : files->asArray()) {
    if (item.type() != JsonValue::kObject) continue;
    Entry entry;
    const JsonValue* name = item.find(L"name");
    const JsonValue* file = item.find(L"file");
    const JsonValue* length = item.find(L"length");
    const JsonValue* md5 = item.find(L"md5");
    const JsonValue* source = item.find(L"source");
    if (!file || !length || !md5) continue;
    entry.name = name ? name->asString() : std::wstring();
    entry.file = file->asString();
    entry.md5 = md5->asString();
    entry.source = source ? source->asString() : std::wstring();
    const bool number = length->type() == JsonValue::kInt || length->type() == JsonValue::kFloat ||
                        length->type() == JsonValue::kDouble;
    entry.length = number ? static_cast<long long>(length->doubleValue()) : -1;
    if (!download::isSafeFileName(entry.file) || entry.length < 0 || !isHexDigest(entry.md5)) continue;
    read.entries.push_back(std::move(entry));
  }
  *manifest = std::move(read);
  return true;
}

bool isFolderAddress(const std::wstring& address) {
  return !address.empty() && address.find(L"://") == std::wstring::npos;
}

std::wstring inFolder(const std::wstring& folder, const std::wstring& url) {
  std::wstring name = download::fileNameFromUrl(url);
  const size_t query = name.find(L'?');
  if (query != std::wstring::npos) name.resize(query);
  if (name.empty()) return std::wstring();
  std::wstring base = folder;
  while (base.size() > 1 && isSeparator(base.back())) base.pop_back();
#ifdef _WIN32
  return base + L"\\" + name;
#else
  return base + L"/" + name;
#endif
}

download::ConnectionFactory withFolders(download::ConnectionFactory network, std::shared_ptr<const Manifest> manifest) {
  return [network = std::move(network), manifest = std::move(manifest)](
             const std::wstring& address, int connectMs, int receiveMs) -> std::unique_ptr<download::IHttpConnection> {
    if (isFolderAddress(address)) return std::make_unique<FolderConnection>(address, manifest);
    if (!network) return std::unique_ptr<download::IHttpConnection>();
    return network(address, connectMs, receiveMs);
  };
}

}  // namespace packfolder
