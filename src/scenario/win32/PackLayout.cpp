#include "scenario/win32/PackLayout.h"

#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "BuildConfig.h"
#include "app/Log.h"
#include "app/Text.h"
#include "app/win32/Files.h"
#include "context/InstallFailure.h"
#include "context/win32/ResultFile.h"
#include "context/win32/VexaInstallContext.h"
#include "download/DownloadManager.h"
#include "download/DownloadOutput.h"
#include "download/DownloadState.h"
#include "download/FileNames.h"
#include "download/HttpFacts.h"
#include "formats/Md5.h"
#include "scenario/EbzReader.h"
#include "scenario/PackFiles.h"
#include "scenario/PackFolder.h"
#include "scenario/PackSignature.h"
#include "scenario/PackSources.h"
#include "scenario/RuntimeParameters.h"
#include "scenario/ScenarioDownloads.h"
#include "scenario/win32/PackTransport.h"
#include "scenario/win32/RuntimeDownloads.h"

namespace packlayout {
namespace {

constexpr int kWaitLimitMs = 3600000;
constexpr int kConnections = 4;
constexpr int kSignatureTimeoutMs = 30000;

struct PackToFetch {
  const wchar_t* name;
  const char* kind;
  std::wstring url;
};

// The tally, the error list and a log line at each tenth of a pack: a
// layout has no window, and a tool that runs it reads the log and the result
// file.
class LayoutListener : public download::IDownloadListener {
 public:
  LayoutListener(VexaInstallContext& context, Log* log) : context_(context), log_(log) {}

  void onProgress(float percent, const std::wstring& name, int) override {
    std::lock_guard<std::mutex> guard(lock_);
    int& told = toldTenths_[name];
    const int tenths = static_cast<int>(percent / 10.0f);
    if (tenths <= told || tenths > 10) return;
    told = tenths;
    if (log_) log_->info(L"Layout: " + name + L" " + std::to_wstring(tenths * 10) + L" %");
  }
  void onComplete(const std::wstring& name, int) override { context_.downloads().completed(name); }
  void onFailed(const std::wstring& name, int, const std::wstring& message) override {
    context_.failures().note(failure::fromDownloadMessage(name, url_, message));
    context_.downloads().failed(name);
    context_.appendError(name + L"_" + message + L";");
    if (log_) log_->error(L"Layout: " + name + L" failed: " + message);
  }
  void onError(const std::wstring&, int, const std::wstring&) override {}
  // The address a failure's host is named from: the pack's last source.
  void setUrl(const std::wstring& url) { url_ = url; }

 private:
  VexaInstallContext& context_;
  Log* log_;
  std::mutex lock_;
  std::map<std::wstring, int> toldTenths_;
  std::wstring url_;
};

// Takes every entry and throws its bytes away: the pack's stream and
// entries are checked as an unpack checks them, without a folder to fill.
class CheckingSink : public un8z::EntrySink {
 public:
  bool beginEntry(const std::wstring&, uint64_t) override { return true; }
  bool writeBytes(const uint8_t*, size_t) override { return true; }
  bool endEntry() override { return true; }
};

std::wstring md5OfFile(packfiles::PackFile& file) {
  if (!file.rewind()) return std::wstring();
  Md5 digest;
  std::vector<uint8_t> block(262144);
  size_t got = 0;
  while (file.read(block.data(), block.size(), got) && got > 0) digest.update(block.data(), got);
  return text::toWide(md5HexOf(digest.finish()));
}

bool writeBytes(const std::wstring& path, const std::string& bytes, Log* log) {
  unsigned long error = 0;
  if (resultfile::replaceAtomically(path, bytes, error)) return true;
  if (log) log->error(L"Layout: can't write " + path + L", error code=" + std::to_wstring(error));
  return false;
}

std::wstring fileNameOf(const std::wstring& url) {
  std::wstring name = download::fileNameFromUrl(url);
  const size_t query = name.find(L'?');
  if (query != std::wstring::npos) name.resize(query);
  return name;
}

// One pack into the folder, checked; its entries (pack, then signature) are
// added to the manifest. False, with its reason logged, when it is not sound.
bool fetchOne(VexaInstallContext& context, const PackToFetch& pack, const std::wstring& folder,
              const std::vector<std::wstring>& mirrors, const pack_signature::PackVerifier& verifier,
              const download::Timing& timing, LayoutListener& listener, packfolder::Manifest& manifest) {
  Log* log = context.log();
  const std::wstring file = fileNameOf(pack.url);
  if (!download::isSafeFileName(file)) {
    if (log) log->error(L"Layout: no file name in " + pack.url);
    context.appendError(std::wstring(pack.name) + L"_noFileName;");
    return false;
  }
  const std::wstring path = packfolder::inFolder(folder, L"/" + file);
  context.downloads().started(pack.name);
  auto output = std::make_shared<download::FileDownloadOutput>(path, true);
  packsources::PackFailover::Settings settings;
  settings.name = pack.name;
  settings.id = scenario_downloads::kPackId;
  settings.sources = packsources::sourcesFor(pack.url, mirrors);
  settings.threadCount = kConnections;
  settings.connections = packtransport::packConnections();
  settings.timing = timing;
  settings.log = log;
  settings.listener = &listener;
  listener.setUrl(settings.sources.back());
  packsources::PackFailover download(
      settings, std::make_shared<packsources::PackSourceOutput>(output, pack.url, verifier.enabled()));
  if (!download.start() || !download.wait(kWaitLimitMs)) return false;
  const std::wstring served = download.servedBy();
  context.downloads().setHost(pack.name, packsources::hostOf(served));

  std::shared_ptr<packfiles::PackFile> held = packfiles::openPack(path, log);
  if (!held) return false;
  auto refuse = [&](const std::wstring& token, const std::wstring& why) {
    if (log) log->error(L"Layout: " + std::wstring(pack.name) + L" from " + served + L" is not usable: " + why);
    context.downloads().failed(pack.name);
    context.failures().note(token == pack_signature::kRefusedToken ? failure::signature(pack.name)
                                                                    : failure::damaged(pack.name, why));
    context.appendError(std::wstring(pack.name) + L"_" + token + L";");
    held.reset();
    DeleteFileW(path.c_str());
    DeleteFileW(download::downloadStatePath(path).c_str());
    return false;
  };
  std::vector<unsigned char> signature;
  if (verifier.enabled()) {
    for (const std::wstring& source : settings.sources) {
      signature = download::downloadToBytes(settings.connections, nullptr, std::wstring(pack.name) + L"_sig",
                                            source + pack_signature::kSignatureSuffix, log, kSignatureTimeoutMs,
                                            scenario_downloads::kPackId, timing);
      if (!signature.empty()) break;
    }
    const pack_signature::Verdict verdict = verifier.verify(*held, signature, pack.kind);
    if (!verdict.accepted) return refuse(pack_signature::kRefusedToken, verdict.reason);
    if (log) log->info(L"Layout: signature of " + std::wstring(pack.name) + L" verified");
  }
  if (!held->rewind()) return refuse(L"unreadable", L"it cannot be read again");
  CheckingSink sink;
  ebz::EbzReader reader(packfiles::kSeparator);
  if (reader.unpack(*held, sink, nullptr) != 0) return refuse(L"damaged", reader.failure());
  const std::wstring md5 = md5OfFile(*held);
  if (md5.empty()) return refuse(L"unreadable", L"its MD5 cannot be read");
  const long long length = static_cast<long long>(files::fileSize(path));
  held.reset();
  // Complete and checked: nothing of it is left to carry on from.
  DeleteFileW(download::downloadStatePath(path).c_str());
  context.downloads().setBytes(pack.name, length, output->bytesResumed());
  manifest.entries.push_back({pack.name, file, length, md5, served});
  if (!signature.empty()) {
    const std::string bytes(signature.begin(), signature.end());
    const std::wstring sigFile = file + pack_signature::kSignatureSuffix;
    if (!writeBytes(packfolder::inFolder(folder, L"/" + sigFile), bytes, log)) return false;
    Md5 digest;
    digest.update(bytes.data(), bytes.size());
    manifest.entries.push_back({std::wstring(pack.name) + L"_sig", sigFile, static_cast<long long>(bytes.size()),
                                text::toWide(md5HexOf(digest.finish())), served + pack_signature::kSignatureSuffix});
  }
  if (log) {
    log->info(L"Layout: " + std::wstring(pack.name) + L" is sound: " + file + L", " + std::to_wstring(length) +
              L" bytes, MD5 " + md5 + L", from " + served);
  }
  return true;
}

}  // namespace

bool writeLayout(VexaInstallContext& context, const std::wstring& folder, const pack_signature::PackVerifier& verifier,
                 const download::Timing& timing) {
  Log* log = context.log();
  if (log) log->info(L"Layout into " + folder);
  const unsigned long made = packfiles::createFolderTree(folder);
  if (made != 0) {
    if (log) log->error(L"Layout: can't create " + folder + L", error code=" + std::to_wstring(made));
    context.appendError(L"createDir_" + std::to_wstring(made) + L";");
    return false;
  }
  // The start answer is not asked for: a layout is not an install, and the
  // statistics would count it as one. The build's addresses and mirrors, and
  // the runtime server's java.json, say where the packs are.
  RuntimeParameters runtime(defaultRuntimePackUrl());
  fetchRuntimeParameters(runtime, log);
  const std::vector<PackToFetch> packs = {
      {scenario_downloads::kProductPack, pack_signature::kKindProduct, std::wstring(VEXA_PACK_ROOT) + L"/Vexa.ebz"},
      {scenario_downloads::kAppdataPack, pack_signature::kKindAppdata, std::wstring(VEXA_PACK_ROOT) + L"/appdata.ebz"},
      {scenario_downloads::kRuntimePack, pack_signature::kKindRuntime, runtime.packUrl()},
  };
  const std::vector<std::wstring> mirrors = packsources::parseMirrorList(VEXA_PACK_MIRRORS);
  LayoutListener listener(context, log);
  packfolder::Manifest manifest;
  bool sound = true;
  for (const PackToFetch& pack : packs) {
    if (timing.aborted()) return false;
    sound = fetchOne(context, pack, folder, mirrors, verifier, timing, listener, manifest) && sound;
  }
  const std::wstring manifestPath = packfolder::inFolder(folder, std::wstring(L"/") + packfolder::kManifestName);
  if (!sound) {
    // An old manifest must not vouch for a folder this layout left short.
    DeleteFileW(manifestPath.c_str());
    if (log) log->error(L"Layout into " + folder + L" is incomplete");
    return false;
  }
  if (!writeBytes(manifestPath, text::wideToUtf8(packfolder::manifestText(manifest)), log)) return false;
  if (log) {
    log->info(L"Layout into " + folder + L" is complete: " + std::to_wstring(manifest.entries.size()) +
              L" files in " + packfolder::kManifestName);
  }
  return true;
}

}  // namespace packlayout
