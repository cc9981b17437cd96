#include "context/win32/InstallContext.h"

#include <chrono>

#include "BuildConfig.h"
#include "BuildStamp.h"
#include "app/Log.h"
#include "app/Text.h"
#include "app/win32/CommandLine.h"
#include "app/win32/Files.h"
#include "app/win32/ModulePaths.h"
#include "app/win32/Registry.h"
#include "app/win32/ShellFolders.h"
#include "context/ContextText.h"
#include "context/win32/IPinstallContainer.h"
#include "formats/Xml.h"
#include "context/Command.h"
#include "context/CommandSenderLocal.h"

namespace {
constexpr size_t kIdField = 64;         // PID, CID, SID, download date
constexpr size_t kModeExtensionMax = 2047;
}  // namespace

InstallContext::InstallContext(const std::wstring& commandLine, const std::wstring& productName, Log* log)
    : log_(log),
      productName_(productName.substr(0, 63)),
      identity_(log),
      tail_(std::wstring(VEXA_STAT_ROOT)),
      stopwatch_([] { return static_cast<uint32_t>(GetTickCount()); }),
      downloads_([] { return static_cast<uint32_t>(GetTickCount()); }) {
  sender_ = new CommandSenderLocal(log);
  options_ = commandline::parse(commandLine);
  std::wstring args = options_.joined();
  if (args.size() > kModeExtensionMax) args.resize(kModeExtensionMax);
  modeExtension = L"args[" + args + L"]";
  statUrl = std::wstring(VEXA_STAT_ROOT) + L"/installer2.html";
  installId = files::newGuidText();
  applyPidOption();
}

InstallContext::~InstallContext() {
  delete offers_;
  delete sender_;
  for (Command* command : deferred_) delete command;
}

void InstallContext::setOffers(IPinstallContainer* offers) {
  delete offers_;
  offers_ = offers;
}

void InstallContext::applyPidOption() {
  auto value = options_.optionValue(L"/pid");
  if (!value) return;
  if (log_) log_->info(L"Replace PID from commandline old=" + pid.get() + L", new=" + *value);
  pid = text::fitOrEmpty(*value, kIdField);
}

std::wstring InstallContext::registeredFolder() const {
  std::wstring exec = registry::readText(HKEY_CURRENT_USER, productKey(), L"exec", 260);
  if (exec.empty()) return exec;
  size_t pos = exec.find_last_of(L"\\/");
  return pos == std::wstring::npos ? std::wstring() : exec.substr(0, pos);
}

void InstallContext::readInstallFolder() {
  std::wstring exec = registry::readText(HKEY_CURRENT_USER, productKey(), L"exec", 260);
  if (!exec.empty()) {
    size_t pos = exec.find_last_of(L'\\');
    installFolder_ = pos == std::wstring::npos ? exec : exec.substr(0, pos);
    return;
  }
  setInstallFolder(shellfolders::programFiles() + L"\\" + productName_);
}

bool InstallContext::setInstallFolder(const std::wstring& folder) {
  std::wstring f = folder;
  if (!f.empty() && f.back() == L'\\') f.pop_back();
  // An empty folder would put the product at the root of the current drive.
  if (f.empty() || f.size() >= kFolderCapacity) {
    if (log_)
      log_->error(L"Install folder refused (" + std::to_wstring(f.size()) + L" characters, at most " +
                  std::to_wstring(kFolderCapacity - 1) + L"); keeping " +
                  (installFolder_.empty() ? std::wstring(L"the default folder") : installFolder_));
    return false;
  }
  installFolder_ = f;
  shortInstallFolder_.clear();
  registry::writeText(HKEY_CURRENT_USER, productKey(), L"exec", installFolder_ + L"\\" + productName_ + L".exe");
  return true;
}

const std::wstring& InstallContext::shortInstallFolder() {
  if (shortInstallFolder_.empty()) {
    if (installFolder_.empty()) readInstallFolder();
    shortInstallFolder_ = win::shortPathOf(installFolder_);
    if (shortInstallFolder_.empty()) shortInstallFolder_ = installFolder_;
  }
  return shortInstallFolder_;
}

std::wstring InstallContext::workFolderPath() { return shellfolders::roamingAppData() + L"\\" + productName_; }

void InstallContext::addProductStatParams(std::map<std::wstring, std::wstring>&, bool) {}

void InstallContext::onTail(const std::map<std::wstring, std::wstring>&) {}

HANDLE InstallContext::prepare() {
  readInstallFolder();
  installMode = isInstalled() ? kReinstall : kFreshInstall;
  workFolder_ = workFolderPath();
  if (files::exists(workFolder_) && !files::isFolder(workFolder_)) {
    // An empty file is a leftover; anything else is the user's and stays,
    // and the install's blocking-file check asks them to move it.
    if (files::fileSize(workFolder_) == 0) {
      if (log_) log_->info(L"Empty file in place of the data folder removed: " + workFolder_);
      DeleteFileW(workFolder_.c_str());
    } else if (log_) {
      log_->warning(L"A file stands where the data folder belongs; it is kept: " + workFolder_);
    }
  }
  files::createFolderTree(workFolder_);
  return nullptr;
}

std::wstring InstallContext::tailImage() { return tail_.image(); }

const std::wstring& InstallContext::versionText() {
  // The build's date and time in the compiler's own form, taken from the
  // commit so that one commit always builds the same program.
  if (versionText_.empty()) versionText_ = contexttext::versionText(versionPrefix(), VEXA_BUILD_DATE, VEXA_BUILD_TIME);
  return versionText_;
}

std::wstring InstallContext::installKey() {
  auto value = options_.optionValue(L"/installKey");
  if (value) {
    if (log_) log_->info(L"installKey from commangLine=" + *value);
    return *value;
  }
  std::wstring path = win::moduleLongPath();
  if (log_) log_->info(L"Extract install id from file name:" + path);
  std::wstring key = contexttext::installKeyFromFileName(path);
  if (log_) log_->info(L"installKey from fileName=" + key);
  return key;
}

bool InstallContext::noteMissingFile(const std::wstring& path) {
  if (files::isFile(path)) return true;
  appendError(L"fne_" + path + L";");
  return false;
}

bool InstallContext::noteMissingFolder(const std::wstring& path) {
  if (files::isFolder(path)) return true;
  appendError(L"dne_" + path + L";");
  return false;
}

void InstallContext::applySettings() {
  const std::wstring key = productKey();
  registry::writeText(HKEY_CURRENT_USER, key, L"PID", pid);
  registry::writeText(HKEY_CURRENT_USER, key, L"CID", cid);
  registry::writeText(HKEY_CURRENT_USER, key, L"SID", sid);
  std::wstring guid;
  if (!identity_.sUserId().empty() && identity_.state() == UserIdentity::kSettled) {
    guid = identity_.sUserId();
  } else if (!identity_.iUserId().empty()) {
    guid = identity_.iUserId();
  } else {
    guid = files::newGuidText();
  }
  registry::writeText(HKEY_CURRENT_USER, key, L"GUID", guid);
  registry::writeText(HKEY_CURRENT_USER, key, L"userAgent", userAgent);
}

void InstallContext::addIdentityParams(std::map<std::wstring, std::wstring>& params) {
  params[L"statUrl"] = statUrl;
  params[L"i_user_id"] = identity_.iUserId();
  params[L"s_user_id"] = identity_.sUserId();
  params[L"installId"] = installId;
  params[L"pid"] = pid;
}

void InstallContext::runDeferredCommands() {
  for (Command* command : deferred_) {
    wchar_t result[256] = L"0";
    command->execute(result, 256, log_);
  }
}

void InstallContext::markStartAnswerRead() {
  std::lock_guard<std::mutex> hold(startAnswerLock_);
  startAnswerDone_ = true;
  startAnswerRead_.notify_all();
}

bool InstallContext::waitStartAnswerRead(unsigned long limitMs) {
  std::unique_lock<std::mutex> hold(startAnswerLock_);
  return startAnswerRead_.wait_for(hold, std::chrono::milliseconds(limitMs), [this] { return startAnswerDone_; });
}

void InstallContext::readInitXml(const std::wstring& initXml) {
  if (log_) log_->info(L"Reading init xml...");
  if (initXml.empty()) {
    if (log_) log_->info(L"xml is empty");
    return;
  }
  XmlNode root;
  root.load(initXml);
  auto value = [&](const wchar_t* name) {
    const XmlAttribute* a = root.attribute(name);
    return a ? a->value : std::wstring();
  };
  tail_.setTorrentHash(value(L"hash"));
  tail_.setImage(value(L"image"));
  tail_.setText(value(L"text"));
  tail_.setTitle(value(L"title"));
  tail_.setType(value(L"type"));
  tail_.setEntity(value(L"entity"));
  tail_.setUrl(value(L"url"));
  tail_.setArtist(value(L"artist"));
  if (!keepInitXml()) return;

  // Written whatever its UTF-8 length: a text of three-byte characters must
  // reach the product as well as a Latin one.
  std::string utf8 = text::wideToUtf8(initXml);
  std::wstring path = workFolder_ + L"\\init.xml";
  if (files::writeWholeFile(path, utf8.data(), utf8.size())) {
    if (log_) log_->info(L"write init xml to " + path);
  } else if (log_) {
    log_->error(L"createInitXml_" + std::to_wstring(GetLastError()));
  }
}

void InstallContext::readTail(const std::wstring& tailXml) {
  identity_.readTail(tailXml);
  if (log_) log_->info(L"Reading tail...");
  XmlNode root;
  root.load(tailXml);
  auto installers = root.installerChildren();
  if (installers.empty()) return;
  std::map<std::wstring, std::wstring> attributes;
  for (const auto& a : installers.front()->attributes()) attributes.emplace(a->name, a->value);
  auto get = [&](const wchar_t* name) {
    auto it = attributes.find(name);
    return it == attributes.end() ? std::wstring() : it->second;
  };
  pid = text::fitOrEmpty(get(L"pid"), kIdField);
  if (log_) log_->info(L"pid from tail=" + pid.get());
  std::wstring stat = text::fitOrEmpty(get(L"statUrl"), 260);
  statUrl = text::fitOrEmpty(stat + L"/installer2.html", 260);
  if (statUrl.empty()) statUrl = L"/installer2.html";
  downloadDate = text::fitOrEmpty(get(L"downloadDate"), kIdField);
  cid = text::fitOrEmpty(get(L"cid"), kIdField);
  sid = text::fitOrEmpty(get(L"sid"), kIdField);
  if (!get(L"userAgent").empty()) userAgent = get(L"userAgent");
  if (usesPinstallMax()) {
    // Any value other than none or zero still allows a single offer.
    pinstallMax = 1;
  }
  onTail(attributes);
}
