#include "scenario/win32/PackTransport.h"

#include <mutex>

#include "app/Log.h"
#include "app/Text.h"
#include "app/win32/Files.h"
#include "download/win32/HttpConnection.h"
#include "scenario/PackFiles.h"

namespace packtransport {
namespace {

std::mutex lock;
std::wstring currentFolder;
std::shared_ptr<const packfolder::Manifest> currentManifest;

}  // namespace

download::ConnectionFactory packConnections() {
  std::lock_guard<std::mutex> guard(lock);
  if (!currentManifest) return download::winInetConnections();
  return packfolder::withFolders(download::winInetConnections(), currentManifest);
}

void usePackFolder(const std::wstring& folder, std::shared_ptr<const packfolder::Manifest> manifest) {
  std::lock_guard<std::mutex> guard(lock);
  currentFolder = folder;
  currentManifest = std::move(manifest);
}

std::wstring folderFileFor(const std::wstring& name) {
  std::lock_guard<std::mutex> guard(lock);
  if (!currentManifest) return std::wstring();
  for (const packfolder::Entry& entry : currentManifest->entries) {
    if (entry.name == name) return packfolder::inFolder(currentFolder, L"/" + entry.file);
  }
  return std::wstring();
}

std::shared_ptr<const packfolder::Manifest> readFolderManifest(const std::wstring& folder, Log* log) {
  const std::wstring path = packfolder::inFolder(folder, std::wstring(L"/") + packfolder::kManifestName);
  std::string bytes;
  constexpr long long kLongestManifest = 65536;
  const long long size = static_cast<long long>(files::fileSize(path));
  if (size > 0 && size <= kLongestManifest) {
    if (std::unique_ptr<packfiles::PackFile> file = packfiles::openPack(path, nullptr)) {
      bytes.resize(static_cast<size_t>(size));
      size_t at = 0, got = 0;
      while (at < bytes.size() && file->read(reinterpret_cast<uint8_t*>(&bytes[at]), bytes.size() - at, got) && got) {
        at += got;
      }
      if (at != bytes.size()) bytes.clear();
    }
  }
  auto manifest = std::make_shared<packfolder::Manifest>();
  if (bytes.empty() || !packfolder::parseManifest(text::utf8ToWide(bytes), manifest.get())) {
    if (log) log->error(L"No usable pack manifest in " + folder);
    return nullptr;
  }
  return manifest;
}

}  // namespace packtransport
