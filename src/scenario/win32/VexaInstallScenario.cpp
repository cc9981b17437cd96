#include "scenario/win32/VexaInstallScenario.h"

#include <windows.h>

#include <optional>

#include "BuildConfig.h"
#include "app/Log.h"
#include "app/Text.h"
#include "app/win32/Files.h"
#include "app/win32/ModulePaths.h"
#include "context/win32/StatisticsEvents.h"
#include "context/win32/VexaInstallContext.h"
#include "download/DownloadManager.h"
#include "download/DownloadOutput.h"
#include "download/win32/HttpConnection.h"
#include "context/win32/IPinstallContainer.h"
#include "context/Command.h"
#include "scenario/Commands.h"
#include "scenario/EbzReader.h"
#include "scenario/PackFiles.h"
#include "scenario/PackSignature.h"
#include "scenario/PackSources.h"
#include "scenario/ScenarioDownloads.h"
#include "scenario/WriteFailure.h"
#include "scenario/win32/PackSignatureCheck.h"
#include "scenario/win32/PackTransport.h"
#include "scenario/win32/RuntimeDownloads.h"
#include "scenario/win32/UpgradeCleanup.h"

namespace {

constexpr int kWaitLimitMs = 3600000;  // one hour for the runtime and for each pack
constexpr int kPackConnections = 4;
constexpr size_t kResultSize = 256;
const wchar_t kErrorCaption[] = L"Ошибка";
const wchar_t kJavaMissingText[] = L"Unable to install Java (32 bit), try to install it manually";

// Sends a command through the context's sender and gives its result text.
std::wstring send(VexaInstallContext& context, Command& command) {
  wchar_t result[kResultSize] = L"0";
  if (CommandSender* sender = context.commandSender()) sender->send(command, result, kResultSize);
  return result;
}

// Stops a named timer on every road out of a step.
class TimerScope {
 public:
  TimerScope(Stopwatch& watch, const wchar_t* name) : watch_(watch), name_(name) { watch_.start(name_); }
  ~TimerScope() { watch_.stop(name_); }
  TimerScope(const TimerScope&) = delete;
  TimerScope& operator=(const TimerScope&) = delete;

 private:
  Stopwatch& watch_;
  const wchar_t* name_;
};

}  // namespace

VexaInstallScenario::VexaInstallScenario(VexaInstallContext& context, bool silent)
    : AbstractInstallScenario(context.log()),
      VexaPackDownloadListsner(context.log()),
      context_(context),
      verifier_(&pack_signature::builtInVerifier()) {
  if (!(silent && context.isInstalled())) {
    stats::sendStartEvent(context);
  } else {
    context.markStartAnswerRead();  // none asked for
  }
  downloadTiming_.abort = std::make_shared<std::atomic<bool>>(false);
  if (silent) {
    // Nobody watches a silent install: a modal box would hold it forever.
    alert_ = [log = log_](const std::wstring&, const std::wstring& text) {
      if (log) log->error(text);
    };
  } else {
    alert_ = [](const std::wstring& caption, const std::wstring& text) {
      MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_ICONERROR);
    };
  }
  javaMissing_ = [log = log_] {
    if (log) log->error(kJavaMissingText);
  };
}

VexaInstallScenario::~VexaInstallScenario() { stopWorker(); }

void VexaInstallScenario::setDownloadTiming(const download::Timing& timing) {
  auto abort = downloadTiming_.abort;
  downloadTiming_ = timing;
  downloadTiming_.abort = abort;
}

std::wstring VexaInstallScenario::packAddress(const std::wstring& fromInstallData, const wchar_t* defaultPath) {
  return fromInstallData.empty() ? std::wstring(VEXA_PACK_ROOT) + defaultPath : fromInstallData;
}

std::wstring VexaInstallScenario::shortDataFolder() {
  std::wstring folder = context_.workFolder().empty() ? context_.workFolderPath() : context_.workFolder();
  std::wstring shortForm = win::shortPathOf(folder);
  return shortForm.empty() ? folder : shortForm;
}

void VexaInstallScenario::doInstall() {
  TimerScope timer(context_.stopwatch(), L"doInstall");

  std::wstring dataFolder = context_.workFolder().empty() ? context_.workFolderPath() : context_.workFolder();
  if (!checkBlockingFile(dataFolder)) return;
  if (context_.installFolder().empty()) context_.readInstallFolder();
  const std::wstring installFolder = context_.installFolder();
  if (!checkBlockingFile(installFolder)) return;
  if (isCancelled()) return;

  CreateFolderCommand createFolder(installFolder);
  std::wstring created = send(context_, createFolder);
  if (created.compare(0, 1, L"0") != 0) {
    context_.appendError(L"createDir_" + created + L";");
    noteFailure(failure::notWritable(installFolder, Log::systemText(std::wcstoul(created.c_str(), nullptr, 10))));
  }
  context_.noteMissingFolder(installFolder);
  if (context_.failures().failed()) return;

  const std::wstring shortFolder = context_.shortInstallFolder();
  // Found out before the first byte is fetched, not after the last.
  if (!probeFolders({shortFolder, StreamingUnpack::stagingFor(shortFolder), shortDataFolder(),
                     StreamingUnpack::stagingFor(shortDataFolder()), shortDataFolder() + L"\\tmp"})) {
    return;
  }
  ExtractUtilsJarCommand utils(shortFolder);
  send(context_, utils);
  if (isCancelled()) return;

  // A runtime pack under the installer's minimum size is refused, so one that
  // must be fetched needs at least that much room beside the product.
  {
    std::wstring home;
    uint64_t available = 0;
    const uint64_t runtimeBytes = jreSettings().packMinValidSize;
    if (findJavaRuntime(context_, home, false).empty() && packfiles::freeSpace(shortFolder, available) &&
        available < runtimeBytes) {
      if (log_) {
        log_->error(L"Not enough space for the runtime in " + shortFolder + L": " + std::to_wstring(runtimeBytes) +
                    L" bytes needed, " + std::to_wstring(available) + L" free");
      }
      noteFailure(failure::diskSpace(packfiles::volumeOf(shortFolder), runtimeBytes, available));
      return;
    }
  }

  takePackFolder();
  setExpectedDownloads(3);
  // A cancel aborts the runtime's downloads as it does the packs'.
  jreSettings().timing.abort = downloadTiming_.abort;
  HANDLE runtimeThread = startJreInstall(*this, context_);

  const std::wstring packFolder = shortDataFolder() + L"\\tmp";
  CreateFolderCommand createPackFolder(packFolder);
  send(context_, createPackFolder);
  const std::wstring productPack = packFolder + L"\\Vexa.ebz";
  const std::wstring appdataPack = packFolder + L"\\appdata.ebz";
  // A run that broke off left its packs' progress here; these outputs carry on
  // from it, and keep theirs for the next run should this one break off too.
  auto productOutput = std::make_shared<download::FileDownloadOutput>(productPack, true);
  auto appdataOutput = std::make_shared<download::FileDownloadOutput>(appdataPack, true);

  // Each pack's address is taken once, for its download, resume state and
  // signature alike: the start answer, read on another thread, may move it.
  const PackAddresses addresses = takePackAddresses();
  const std::vector<std::wstring> roots = mirrorRoots();
  const std::vector<std::wstring> productSources =
      withFolderFirst(scenario_downloads::kProductPack, packsources::sourcesFor(addresses.product, roots));
  const std::vector<std::wstring> appdataSources =
      withFolderFirst(scenario_downloads::kAppdataPack, packsources::sourcesFor(addresses.appdata, roots));
  // Each pack is unpacked as it arrives, into a staging folder beside its
  // target; only a whole, verified pack's files move in after the downloads.
  StreamingUnpack productUnpack({scenario_downloads::kProductPack, pack_signature::kKindProduct, addresses.product,
                                 productPack, shortFolder, productSources},
                                productOutput, *verifier_, log_, downloadTiming_);
  StreamingUnpack appdataUnpack({scenario_downloads::kAppdataPack, pack_signature::kKindAppdata, addresses.appdata,
                                 appdataPack, shortDataFolder(), appdataSources},
                                appdataOutput, *verifier_, log_, downloadTiming_);
  // A staging folder that cannot take an entry ends every download at once:
  // the rest of the bytes could not land anyway.
  auto stopOnWriteFault = [this](const packfiles::WriteFault& fault) {
    noteFailure(packfiles::failureOfWrite(fault));
    downloadTiming_.abort->store(true);
  };
  productUnpack.setWriteFaultHandler(stopOnWriteFault);
  appdataUnpack.setWriteFaultHandler(stopOnWriteFault);
  {
    // A pack's failure is its last source's (or its folder copy's, which
    // names no host).
    std::lock_guard<std::mutex> guard(urlsLock_);
    urls_[scenario_downloads::kProductPack] = productSources.back();
    urls_[scenario_downloads::kAppdataPack] = appdataSources.back();
  }
  auto productFile =
      std::make_shared<packsources::PackSourceOutput>(productOutput, addresses.product, verifier_->enabled());
  auto appdataFile =
      std::make_shared<packsources::PackSourceOutput>(appdataOutput, addresses.appdata, verifier_->enabled());
  packsources::PackFailover productDownload(failoverSettings(scenario_downloads::kProductPack, productSources),
                                            productFile);
  packsources::PackFailover appdataDownload(failoverSettings(scenario_downloads::kAppdataPack, appdataSources),
                                            appdataFile);
  if (!isCancelled()) {
    context_.downloads().started(scenario_downloads::kProductPack);
    context_.downloads().started(scenario_downloads::kAppdataPack);
    downloadPacks(productDownload, appdataDownload);
    productUnpack.start();
    appdataUnpack.start();
  }
  if (log_) log_->info(L"Wait for download packs...");

  if (runtimeThread) {
    waitForRuntimeThread(runtimeThread);
    CloseHandle(runtimeThread);
  } else {
    setExpectedDownloads(2);
  }

  const bool productDownloaded = productDownload.wait(kWaitLimitMs);
  const bool appdataDownloaded = appdataDownload.wait(kWaitLimitMs);
  const bool downloaded = productDownloaded && appdataDownloaded;
  if (log_) log_->info(downloaded ? L"Vexa packs are downloaded" : L"Vexa packs are FAILED");
  if (productOutput->isOk()) {
    context_.downloads().setBytes(scenario_downloads::kProductPack, files::fileSize(productPack),
                                  productOutput->bytesResumed());
  }
  if (appdataOutput->isOk()) {
    context_.downloads().setBytes(scenario_downloads::kAppdataPack, files::fileSize(appdataPack),
                                  appdataOutput->bytesResumed());
  }
  const std::wstring productUrl = servedOr(productDownload, addresses.product);
  const std::wstring appdataUrl = servedOr(appdataDownload, addresses.appdata);
  const StreamingUnpack::Outcome productOutcome = productUnpack.end();
  const StreamingUnpack::Outcome appdataOutcome = appdataUnpack.end();
  if (isCancelled()) return;

  // Only a pack that arrived whole and passed its checks is installed; any
  // other stays with its download state for the next run to carry on from.
  // The appdata pack is not even judged when the product cannot be installed.
  StagedPack product = settle(productUnpack, productOutcome, productOutput->isOk(), scenario_downloads::kProductPack,
                              pack_signature::kKindProduct, productUrl, productPack, shortFolder,
                              canFetchAgain(productDownload, *productFile));
  product = fetchAgainIfRefused(product, productDownload, *productFile, productOutput, productUnpack,
                                scenario_downloads::kProductPack, pack_signature::kKindProduct, addresses.product);
  StagedPack appdata{appdataPack, shortDataFolder(), appdataUnpack.staging(), StagedPack::State::kNone,
                     &appdataUnpack};
  if (product.state != StagedPack::State::kNone) {
    appdata = settle(appdataUnpack, appdataOutcome, appdataOutput->isOk(), scenario_downloads::kAppdataPack,
                     pack_signature::kKindAppdata, appdataUrl, appdataPack, shortDataFolder(),
                     canFetchAgain(appdataDownload, *appdataFile));
    appdata = fetchAgainIfRefused(appdata, appdataDownload, *appdataFile, appdataOutput, appdataUnpack,
                                  scenario_downloads::kAppdataPack, pack_signature::kKindAppdata, addresses.appdata);
  } else {
    appdataUnpack.discard();
  }

  // Nothing moves in when anything failed: the staging folders go, the packs
  // that arrived whole stay for a second try to use.
  if (context_.failures().failed()) {
    productUnpack.discard();
    appdataUnpack.discard();
    for (const StagedPack* pack : {&product, &appdata}) {
      if (pack->state != StagedPack::State::kFailed) continue;
      context_.appendError(L"unpack_1;");
      // A pack that arrived whole and does not unpack is fetched afresh next time.
      DeleteFileW(pack->path.c_str());
      DeleteFileW(download::downloadStatePath(pack->path).c_str());
    }
    return;
  }
  stageProgress(2, 1, 1.0f);
  removeUpdates(context_);
  packsMoved_ = 0;
  if (product.state != StagedPack::State::kNone) {
    // From the first file moved until the last command has run, the folder
    // is not an install to be trusted as it stands.
    context_.markInstallComplete(false);
    unpackPacks(context_, product, appdata);
  }
  if (context_.failures().failed()) return;
  stageProgress(3, 100, 100.0f);
  if (isCancelled()) return;

  // Unquoted, a folder with blanks on a volume without 8.3 names would
  // start another program.
  ExecuteProcessCommand firstRun(text::quotedIfBlank(shortFolder + L"\\Vexa.exe") + L" /copydll");
  send(context_, firstRun);
  if (packsMoved_ == 2) context_.markInstallComplete(true);
  notifyTotal(90);
}

void VexaInstallScenario::waitForRuntimeThread(HANDLE thread) {
  constexpr DWORD kStepMs = 200;
  DWORD waited = 0;
  while (WaitForSingleObject(thread, kStepMs) == WAIT_TIMEOUT) {
    waited += kStepMs;
    if (waited >= static_cast<DWORD>(kWaitLimitMs) || isCancelled()) return;
  }
}

bool VexaInstallScenario::checkBlockingFile(const std::wstring& path) {
  if (!files::exists(path) || files::isFolder(path)) return true;
  if (files::fileSize(path) != 0) {
    alert_(kErrorCaption, L"Удалите пожалуйста файл '" + path + L"' и повторите попытку");
    return false;
  }
  if (log_) log_->info(L"Try delete file " + path);
  ExecuteProcessCommand reset(L"icacls \"" + path + L"\" /reset");
  send(context_, reset);
  DeleteCommand remove(path);
  if (send(context_, remove) != L"0") {
    alert_(kErrorCaption, L"Не удалось расспаковать плагины, удалите пожалуйста файл '" + path +
                              L"' и повторите попытку");
    return false;
  }
  return true;
}

void VexaInstallScenario::removeUpdates(VexaInstallContext& context) {
  std::wstring dataFolder = context.workFolder().empty() ? context.workFolderPath() : context.workFolder();
  // Executed directly: a missing folder is the usual case and needs no line
  // of its own in the log.
  DeleteCommand remove(dataFolder + L"\\updates");
  wchar_t result[kResultSize] = L"0";
  remove.execute(result, kResultSize, log_);
}

VexaInstallScenario::PackAddresses VexaInstallScenario::takePackAddresses() {
  const bool answered = context_.waitStartAnswerRead(startAnswerWaitMs_);
  if (log_) {
    log_->info(answered ? std::wstring(L"Pack addresses taken after the start answer")
                        : L"No start answer within " + std::to_wstring(startAnswerWaitMs_) +
                              L" ms; pack addresses taken as they stand");
  }
  const auto urls = context_.productAndAppdataUrls();
  return PackAddresses{packAddress(urls.first, L"/Vexa.ebz"), packAddress(urls.second, L"/appdata.ebz")};
}

std::vector<std::wstring> VexaInstallScenario::mirrorRoots() {
  std::vector<std::wstring> roots = packsources::parseMirrorList(VEXA_PACK_MIRRORS);
  for (const std::wstring& root : packsources::parseMirrorList(context_.answerMirrors.get())) {
    roots.push_back(root);
  }
  if (log_ && !roots.empty()) log_->info(L"Pack mirrors: " + std::to_wstring(roots.size()));
  return roots;
}

packsources::PackFailover::Settings VexaInstallScenario::failoverSettings(const wchar_t* name,
                                                                          const std::vector<std::wstring>& sources) {
  packsources::PackFailover::Settings settings;
  settings.name = name;
  settings.id = scenario_downloads::kPackId;
  settings.sources = sources;
  settings.threadCount = kPackConnections;
  settings.connections = packtransport::packConnections();
  settings.timing = downloadTiming_;
  settings.log = log_;
  settings.listener = this;
  return settings;
}

std::wstring VexaInstallScenario::servedOr(packsources::PackFailover& download, const std::wstring& address) {
  const std::wstring served = download.servedBy();
  if (!served.empty()) {
    context_.downloads().setHost(download.name(), packfolder::isFolderAddress(served) ? text::folderPart(served)
                                                                                      : packsources::hostOf(served));
    return served;
  }
  return address;
}

void VexaInstallScenario::takePackFolder() {
  std::wstring folder;
  if (std::optional<std::wstring> given = context_.optionValue(L"/source")) {
    folder = *given;
  } else {
    const std::wstring beside = text::folderPart(win::moduleLongPath()) + L"\\" + packfolder::kBesideProgram;
    if (files::isFolder(beside)) folder = beside;
  }
  if (folder.empty()) return;
  std::shared_ptr<const packfolder::Manifest> manifest = packtransport::readFolderManifest(folder, log_);
  if (!manifest) return;
  if (log_) {
    log_->info(L"Packs from the folder " + folder + L" (" + std::to_wstring(manifest->entries.size()) +
               L" files in its manifest)");
  }
  packtransport::usePackFolder(folder, std::move(manifest));
}

std::vector<std::wstring> VexaInstallScenario::withFolderFirst(const wchar_t* name, std::vector<std::wstring> sources) {
  const std::wstring local = packtransport::folderFileFor(name);
  if (!local.empty()) sources.insert(sources.begin(), local);
  return sources;
}

void VexaInstallScenario::downloadPacks(packsources::PackFailover& product, packsources::PackFailover& appdata) {
  product.start();
  appdata.start();
}

VexaInstallScenario::StagedPack VexaInstallScenario::settle(StreamingUnpack& unpack, StreamingUnpack::Outcome outcome,
                                                             bool downloaded, const wchar_t* name, const char* kind,
                                                             const std::wstring& url, const std::wstring& path,
                                                             const std::wstring& target, bool fetchAgain) {
  StagedPack staged{path, target, unpack.staging(), StagedPack::State::kNone, &unpack};
  if (!downloaded || !context_.noteMissingFile(path)) {
    // The download's own report named the cause; a download that never
    // reported one (its wait ran out) is a network matter.
    if (!downloaded) noteFailure(failure::network(failure::hostOf(url)));
    if (log_ && files::exists(staged.staging)) {
      log_->info(L"Unpacked files of " + path + L" discarded: " + unpack.reason());
    }
    unpack.discard();
    return staged;
  }
  switch (outcome) {
    case StreamingUnpack::Outcome::kUnpacked:
      if (verifier_->enabled() && log_) log_->info(L"Signature of " + url + L" verified");
      staged.state = StagedPack::State::kReady;
      return staged;
    case StreamingUnpack::Outcome::kRefused:
      unpack.discard();
      if (!fetchAgain) noteFailure(failure::signature(name));
      refusePack(name, scenario_downloads::kPackId, url, path, unpack.reason(), fetchAgain ? nullptr : this, log_);
      staged.refused = true;
      return staged;
    case StreamingUnpack::Outcome::kDamaged:
      unpack.discard();
      if (log_) log_->error(L"Can't unEbz " + path + L": " + unpack.reason());
      noteFailure(unpack.writeFault() ? packfiles::failureOfWrite(unpack.writeFault())
                                      : failure::damaged(name, unpack.reason()));
      staged.state = StagedPack::State::kFailed;
      return staged;
    case StreamingUnpack::Outcome::kInterrupted:
    case StreamingUnpack::Outcome::kCutOff:
      break;
  }
  // The download completed, but not as one stream the unpack could follow
  // (it began its file again): check and unpack the whole file as it stands.
  unpack.discard();
  if (log_) log_->info(L"Unpack of " + path + L" follows the whole file: " + unpack.reason());
  std::shared_ptr<packfiles::PackFile> held =
      holdVerifiedPack(*verifier_, name, kind, scenario_downloads::kPackId, url, path, fetchAgain ? nullptr : this, log_,
                       downloadTiming_);
  if (!held) {
    // A refused pack is deleted; one that would not open stays.
    staged.refused = !files::exists(path);
    // Without a key only an unreadable file is turned down here; a refused
    // pack that another source may replace is not the install's failure yet.
    if (!(staged.refused && fetchAgain)) {
      noteFailure(verifier_->enabled() ? failure::signature(name) : failure::damaged(name, L"it cannot be read"));
    }
    return staged;
  }
  const bool unpacked = unpack.unpackWhole(*held) == 0;
  if (!unpacked) {
    noteFailure(unpack.writeFault() ? packfiles::failureOfWrite(unpack.writeFault())
                                    : failure::damaged(name, unpack.reason()));
  }
  staged.state = unpacked ? StagedPack::State::kReady : StagedPack::State::kFailed;
  return staged;
}

bool VexaInstallScenario::canFetchAgain(packsources::PackFailover& download, packsources::PackSourceOutput& file) {
  const int served = download.servedIndex();
  if (served < 0) return false;
  return static_cast<size_t>(served) + (file.carriedOnLengthAlone() ? 0 : 1) < download.sourceCount();
}

VexaInstallScenario::StagedPack VexaInstallScenario::fetchAgainIfRefused(
    StagedPack staged, packsources::PackFailover& download, packsources::PackSourceOutput& file,
    const std::shared_ptr<download::FileDownloadOutput>& output, StreamingUnpack& unpack, const wchar_t* name,
    const char* kind, const std::wstring& address) {
  for (size_t tries = 0; staged.refused && tries < download.sourceCount() && !isCancelled(); ++tries) {
    if (!canFetchAgain(download, file)) break;
    // Bytes one host brought that another vouched for by their length alone
    // may be what spoiled the pack: the host that served the rest sends it
    // whole. Otherwise that host's own file was refused: the next host's.
    const size_t next = static_cast<size_t>(download.servedIndex()) + (file.carriedOnLengthAlone() ? 0 : 1);
    if (log_) log_->info(L"Pack " + std::wstring(name) + L" fetched again whole, from source " + std::to_wstring(next + 1));
    output->discardProgress();
    if (!download.startAt(next) || !download.wait(kWaitLimitMs)) break;
    const std::wstring url = servedOr(download, address);
    context_.downloads().setBytes(name, files::fileSize(staged.path), output->bytesResumed());
    staged = settle(unpack, StreamingUnpack::Outcome::kCutOff, output->isOk(), name, kind, url, staged.path,
                    staged.target, canFetchAgain(download, file));
  }
  return staged;
}

void VexaInstallScenario::unpackPacks(VexaInstallContext& context, StagedPack& productPack, StagedPack& appdataPack) {
  stageProgress(2, 0, 0.0f);
  notifyTotal(82);
  installOne(productPack, L"core");
  stageProgress(2, 50, 50.0f);
  notifyTotal(85);
  const bool appdataUsed = appdataPack.state != StagedPack::State::kNone;
  if (appdataUsed) installOne(appdataPack, L"plugin");
  stageProgress(2, 100, 100.0f);
  notifyTotal(87);

  std::wstring javaHome;
  findJavaRuntime(context, javaHome, true);
  runUpgradeCleanup(context, javaHome);

  std::vector<std::wstring> used = {productPack.path};
  if (appdataUsed) used.push_back(appdataPack.path);
  for (const std::wstring& pack : used) {
    if (files::exists(pack) && !DeleteFileW(pack.c_str()) && log_) log_->error(L"Can't delete " + pack);
    const std::wstring state = download::downloadStatePath(pack);
    if (files::exists(state) && !DeleteFileW(state.c_str()) && log_) log_->error(L"Can't delete " + state);
  }
  notifyTotal(90);
}

void VexaInstallScenario::installOne(StagedPack& pack, const wchar_t* timer) {
  TimerScope unpackTimer(context_.stopwatch(), timer);
  if (pack.state != StagedPack::State::kReady) {
    // Whether the install worked is judged by the program files at the end;
    // the token tells the operator why it did not.
    context_.appendError(L"unpack_1;");
    return;
  }
  if (log_) log_->info(L"UnEbz " + pack.path + L" to " + pack.target);
  std::wstring blocking;
  if (pack.unpack && pack.unpack->moveInto(pack.target, blocking)) {
    ++packsMoved_;
    return;
  }
  const DWORD code = pack.unpack ? pack.unpack->moveError() : DWORD(ERROR_GEN_FAILURE);
  if (!blocking.empty()) {
    noteFailure(failure::notWritable(text::folderPart(blocking), L"the file " + text::fileNamePart(blocking) +
                                                                      L" is in use by another program"));
    alert_(kErrorCaption, L"Удалите пожалуйста файл '" + blocking + L"' и повторите попытку");
    context_.appendError(L"unpack_inUse;");
  } else {
    noteFailure(failure::notWritable(pack.target, Log::systemText(code)));
    context_.appendError(L"unpack_1;");
  }
}

void VexaInstallScenario::reportJavaMissing() {
  if (javaMissing_) javaMissing_();
}

void VexaInstallScenario::stageProgress(int stage, int percent, float exactPercent) {
  notifyStage(stage, percent, exactPercent);
}

void VexaInstallScenario::waitForPartnerInstalls() {
  if (IPinstallContainer* offers = context_.offers()) offers->waitForInstalls();
}

bool VexaInstallScenario::noteFailure(const failure::Failure& why) {
  if (!context_.failures().note(why)) return false;
  if (log_) {
    log_->error(L"Install failed (" + text::utf8ToWide(failure::token(why.cause)) + L"): " + why.text);
  }
  return true;
}

bool VexaInstallScenario::probeFolders(const std::vector<std::wstring>& folders) {
  for (const std::wstring& folder : folders) {
    const unsigned long code = packfiles::probeWrite(folder);
    if (code == 0) continue;
    if (log_) log_->error(L"Can't write to folder " + folder + L", " + Log::errorCodeText(code));
    noteFailure(failure::notWritable(folder, Log::systemText(code)));
    return false;
  }
  return true;
}

failure::Failure VexaInstallScenario::runtimeDownloadFailure() { return runtimeDownload_.get(); }

bool VexaInstallScenario::failed() { return context_.failures().failed(); }

void VexaInstallScenario::onRestart() {
  if (log_) log_->info(L"Try the install again");
  // The statistics go out once, when the process ends: this mark keeps the
  // failed run's cause, which its clearing below would lose, and tells its
  // tokens from this run's.
  const failure::Failure last = context_.failures().get();
  context_.appendError(last ? L"retry_" + text::utf8ToWide(failure::token(last.cause)) + L";" : L"retry;");
  context_.failures().clear();
  // This run's downloads are timed and sized as its own, not from the first
  // run's start.
  context_.downloads().newRun();
  runtimeDownload_.clear();
  downloadTiming_.abort->store(false);
  // The runtime search starts afresh: the last run may have left half of one.
  context_.jvmProperties.reset();
}

void VexaInstallScenario::onCancel() {
  if (log_) log_->info(L"Cancel the install");
  context_.failures().note(failure::cancelled());
  downloadTiming_.abort->store(true);
}

void VexaInstallScenario::onProgress(float percent, const std::wstring& name, int id) {
  // The runtime's download starts out of sight; its first report stands in.
  context_.downloads().started(name);
  VexaPackDownloadListsner::onProgress(percent, name, id);
}

void VexaInstallScenario::onComplete(const std::wstring& name, int id) {
  context_.downloads().completed(name);
  VexaPackDownloadListsner::onComplete(name, id);
}

void VexaInstallScenario::onFailed(const std::wstring& name, int id, const std::wstring& message) {
  // Completion is reported as the last byte arrives; the digest check or the
  // signature can still turn the download down after that. A download that
  // never reported progress is listed all the same.
  context_.downloads().started(name);
  context_.downloads().failed(name);
  std::wstring url;
  {
    std::lock_guard<std::mutex> guard(urlsLock_);
    auto it = urls_.find(name);
    if (it != urls_.end()) url = it->second;
  }
  if (name == scenario_downloads::kRuntimePack) {
    // Judged by the runtime thread: a runtime found elsewhere mends it.
    const std::wstring fromAnswer = context_.packedJreEbzUrl;
    if (url.empty()) url = fromAnswer.empty() ? defaultRuntimePackUrl() : fromAnswer;
    runtimeDownload_.note(failure::fromDownloadMessage(name, url, message));
  } else if (id == scenario_downloads::kPackId) {
    noteFailure(failure::fromDownloadMessage(name, url, message));
    // Without either pack nothing is installed: the other downloads end now
    // instead of fetching what would only be thrown away.
    downloadTiming_.abort->store(true);
  }
  VexaPackDownloadListsner::onFailed(name, id, message);
}

void VexaInstallScenario::packStageProgress(int stage, int percent, float exactPercent) {
  notifyStage(stage, percent, exactPercent);
}
void VexaInstallScenario::packTotalProgress(int percent) { notifyTotal(percent); }
void VexaInstallScenario::packDownloadError(bool isPack, const std::wstring& message) {
  notifyDownloadError(isPack, message);
}
void VexaInstallScenario::packDownloadNotice(bool isPack, const std::wstring& message) {
  notifyDownloadNotice(isPack, message);
}
void VexaInstallScenario::appendDownloadError(const std::wstring& token) { context_.appendError(token); }
