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
#include <memory>
#include <string>

#include "download/Timing.h"
#include "scenario/AbstractInstallScenario.h"
#include "scenario/VexaPackDownloadListsner.h"
#include "scenario/win32/JavaRuntime.h"

class VexaInstallContext;
namespace pack_signature {
class PackVerifier;
}
namespace download {
class DownloadManager;
class FileDownloadOutput;
}  // namespace download
namespace packfiles {
class PackFile;
}

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
  // Starts "vexa8z" and "appdata8z" (4 connections each) into the outputs.
  virtual void downloadPacks(const PackAddresses& addresses, download::DownloadManager& completion,
                             std::shared_ptr<download::FileDownloadOutput> product,
                             std::shared_ptr<download::FileDownloadOutput> appdata);  // 9
  // A pack ready to unpack: its path, and the handle it was checked through,
  // held from the check to the unpack; without a handle it is not unpacked.
  struct HeldPack {
    std::wstring path;
    std::shared_ptr<packfiles::PackFile> file;
  };
  // Unpacks the held packs (the product pack always has one), runs the
  // upgrade clean-up, and deletes the files (and download states) of the
  // packs it unpacked; a pack it did not unpack stays for the next run.
  virtual void unpackPacks(VexaInstallContext& context, HeldPack& productPack, HeldPack& appdataPack);  // 10

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

 protected:
  void waitForPartnerInstalls() override;
  void onCancel() override;

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
  // The pack held for unpacking, when its download completed and passed its
  // checks and, with a key built in, its signature verified.
  HeldPack holdPack(bool downloaded, const wchar_t* name, const char* kind, const std::wstring& url,
                    const std::wstring& path);
  void unpackOne(HeldPack& pack, const std::wstring& target, const wchar_t* timer);
  // Waits for the runtime thread, at most an hour, less when cancelled.
  void waitForRuntimeThread(HANDLE thread);
  std::wstring shortDataFolder();
  // Waits (bounded) for the start answer, logs which came first, and reads
  // both addresses.
  PackAddresses takePackAddresses();

  VexaInstallContext& context_;
  AlertHandler alert_;
  std::function<void()> javaMissing_;
  download::Timing downloadTiming_;
  const pack_signature::PackVerifier* verifier_;
  unsigned long startAnswerWaitMs_ = kStartAnswerWaitMs;
};
