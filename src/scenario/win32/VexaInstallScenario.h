#pragma once
// The product's install scenario: the runtime, the two packs, unpacking, the
// upgrade clean-up and the first "/copydll" run, on the worker thread.
//
// Threading: built and driven on the main thread. doInstall runs on the
// worker thread; the download part (VexaPackDownloadListsner) and the
// runtime host part (JreInstallHost) are called on the download and runtime
// threads. The alert and Java-missing handlers are called on the worker and
// runtime threads respectively; set them before start().
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "context/InstallFailure.h"
#include "download/Timing.h"
#include "scenario/AbstractInstallScenario.h"
#include "scenario/PackSources.h"
#include "scenario/VexaPackDownloadListsner.h"
#include "scenario/win32/JavaRuntime.h"
#include "scenario/win32/StreamingUnpack.h"

class VexaInstallContext;
namespace pack_signature {
class PackVerifier;
}
namespace download {
class DownloadManager;
class FileDownloadOutput;
}  // namespace download

class VexaInstallScenario : public AbstractInstallScenario, public VexaPackDownloadListsner, public JreInstallHost {
 public:
  // A message the user must act on: caption and text.
  using AlertHandler = std::function<void(const std::wstring& caption, const std::wstring& text)>;

  // Sends "installStart" unless the run is silent and the product is
  // installed. A silent scenario logs its alerts at ERROR; otherwise they are
  // message boxes. Either way the Java-missing report only logs until the
  // wizard gives its dialog.
  VexaInstallScenario(VexaInstallContext& context, bool silent);
  ~VexaInstallScenario() override;

  void doInstall() override;                                                   // 7
  // Removes the data folder's "updates".
  virtual void removeUpdates(VexaInstallContext& context);                     // 8
  // Where the product and appdata packs come from, taken once per run.
  struct PackAddresses {
    std::wstring product, appdata;
  };
  // Starts "vexa8z" and "appdata8z" (4 connections each), each from its
  // own address and then its mirrors.
  virtual void downloadPacks(packsources::PackFailover& product, packsources::PackFailover& appdata);  // 9
  // A pack after its download: its file, the folder it goes into, and the
  // staging folder that holds its unpacked files until they move there.
  struct StagedPack {
    enum class State {
      kNone,    // not to be installed: missing, cut off or refused; nothing staged
      kReady,   // unpacked, whole and verified: the staged files may move in
      kFailed,  // arrived but could not be unpacked; the pack is used up
    };
    std::wstring path;
    std::wstring target;
    std::wstring staging;
    State state = State::kNone;
    StreamingUnpack* unpack = nullptr;  // holds the staged files
    bool refused = false;  // its signature turned it down, and it was deleted
  };
  // Moves the staged files of the product pack and then of the appdata pack
  // into their folders, runs the upgrade clean-up, and deletes the files (and
  // download states) of the packs it installed or found unusable; a pack not
  // to be installed stays for the next run.
  virtual void unpackPacks(VexaInstallContext& context, StagedPack& productPack, StagedPack& appdataPack);  // 10

  void setAlertHandler(AlertHandler handler) { alert_ = std::move(handler); }
  void setJavaMissingHandler(std::function<void()> handler) { javaMissing_ = std::move(handler); }
  // Tests shorten the downloads' pauses; the abort flag is the scenario's own.
  void setDownloadTiming(const download::Timing& timing);
  // How long the packs wait for the start answer, which may move them.
  static constexpr unsigned long kStartAnswerWaitMs = 10000;
  void setStartAnswerWaitMs(unsigned long ms) { startAnswerWaitMs_ = ms; }  // tests
  // Tests check packs against keys of their own; the built-in one otherwise.
  void setPackVerifier(const pack_signature::PackVerifier& verifier) { verifier_ = &verifier; }

  // The pack's address: the install data's value, or the pack server's path
  // when that is empty.
  static std::wstring packAddress(const std::wstring& fromInstallData, const wchar_t* defaultPath);

  // A failure also goes to the context's download tally. Called on the
  // download, runtime and worker threads.
  void onFailed(const std::wstring& name, int id, const std::wstring& message) override;

  // JreInstallHost
  void stageProgress(int stage, int percent, float exactPercent) override;
  download::IDownloadListener& runtimeDownloadListener() override { return *this; }
  bool installCancelled() override { return isCancelled(); }
  void reportJavaMissing() override;
  failure::Failure runtimeDownloadFailure() override;

  // Notes the install's cause of failure unless one was noted before, with an
  // ERROR line that names it. True when it was the first. Any thread.
  bool noteFailure(const failure::Failure& why);

 protected:
  void waitForPartnerInstalls() override;
  void onCancel() override;
  bool failed() override;
  void onRestart() override;

  // VexaPackDownloadListsner; progress and completion also go to the
  // context's download tally.
  void onProgress(float percent, const std::wstring& name, int id) override;
  void onComplete(const std::wstring& name, int id) override;
  void packStageProgress(int stage, int percent, float exactPercent) override;
  void packTotalProgress(int percent) override;
  void packDownloadError(bool isPack, const std::wstring& message) override;
  void packDownloadNotice(bool isPack, const std::wstring& message) override;
  void appendDownloadError(const std::wstring& token) override;

 private:
  // False when a file stands where a folder must be and cannot be removed.
  bool checkBlockingFile(const std::wstring& path);
  // Judges a pack whose download has ended from its streamed unpack's
  // outcome: refused packs take the refusal road, and a pack whose stream was
  // broken off although its download completed is checked and unpacked again
  // from the whole file.
  // fetchAgain: a refusal is not the install's failure (nor reported as a
  // failed download), since another source may replace the pack.
  StagedPack settle(StreamingUnpack& unpack, StreamingUnpack::Outcome outcome, bool downloaded, const wchar_t* name,
                    const char* kind, const std::wstring& url, const std::wstring& path, const std::wstring& target,
                    bool fetchAgain = false);
  // Whether a refused pack has a source left to fetch it again from.
  static bool canFetchAgain(packsources::PackFailover& download, packsources::PackSourceOutput& file);
  void installOne(StagedPack& pack, const wchar_t* timer);
  // Probe-writes each folder (made and removed again when missing); the first
  // that refuses becomes the install's failure: false.
  bool probeFolders(const std::vector<std::wstring>& folders);
  int packsMoved_ = 0;  // packs whose files all moved in this run (worker thread)
  // A pack whose signature was refused is fetched again whole from the next
  // of its sources (from the same one when bytes of another carried over on
  // their length alone), checked and unpacked from the whole file, while
  // sources are left.
  StagedPack fetchAgainIfRefused(StagedPack staged, packsources::PackFailover& download,
                                 packsources::PackSourceOutput& file,
                                 const std::shared_ptr<download::FileDownloadOutput>& output, StreamingUnpack& unpack,
                                 const wchar_t* name, const char* kind, const std::wstring& address);
  // Waits for the runtime thread, at most an hour, less when cancelled.
  void waitForRuntimeThread(HANDLE thread);
  std::wstring shortDataFolder();
  // Waits (bounded) for the start answer, logs which came first, and reads
  // both addresses.
  PackAddresses takePackAddresses();
  // The folder of "/source", or "VexaSetup.packs" beside the program, when
  // it holds a manifest: its packs are tried before any host.
  void takePackFolder();
  std::vector<std::wstring> withFolderFirst(const wchar_t* name, std::vector<std::wstring> sources);
  // The build's mirror roots, then those of the start answer.
  std::vector<std::wstring> mirrorRoots();
  packsources::PackFailover::Settings failoverSettings(const wchar_t* name, const std::vector<std::wstring>& sources);
  // The address that served the download (noted as its host), or address
  // when none did.
  std::wstring servedOr(packsources::PackFailover& download, const std::wstring& address);

  VexaInstallContext& context_;
  AlertHandler alert_;
  std::function<void()> javaMissing_;
  download::Timing downloadTiming_;
  const pack_signature::PackVerifier* verifier_;
  unsigned long startAnswerWaitMs_ = kStartAnswerWaitMs;
  // Download name -> address, for the host a failure names.
  std::mutex urlsLock_;
  std::map<std::wstring, std::wstring> urls_;
  failure::FailureRecord runtimeDownload_;
};
