#pragma once
// The one object every part of the installer consults: what is installed,
// where, for whom, and how the installation went.
//
// Threading: created and mostly read on the main thread. The scenario's
// worker thread and the statistics thread read and write fields too; no lock
// guards them, by construction of the flow one thread writes a field at a
// time. The stopwatch has its own lock.
#include <windows.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/OptionTable.h"
#include "context/DownloadTally.h"
#include "context/InstallFailure.h"
#include "context/Stopwatch.h"
#include "context/SharedText.h"
#include "context/TailData.h"
#include "context/win32/UserIdentity.h"
#include "download/Timing.h"

class Log;
class StringTable;
class Command;
class CommandSender;
class IPinstallContainer;

class InstallContext {
 public:
  enum InstallMode { kFreshInstall = 0, kReinstall = 1, kAlreadyInstalled = 2 };

  InstallContext(const std::wstring& commandLine, const std::wstring& productName, Log* log);
  virtual ~InstallContext();
  InstallContext(const InstallContext&) = delete;
  InstallContext& operator=(const InstallContext&) = delete;

  // Virtual operations, in slot order.
  virtual void readInstallFolder();                                                       // 0
  virtual std::wstring workFolderPath();                                                  // 1
  virtual void addProductStatParams(std::map<std::wstring, std::wstring>& params, bool atEnd);  // 2
  virtual void onTail(const std::map<std::wstring, std::wstring>& installerAttributes);   // 3
  virtual HANDLE prepare();                                                               // 4
  virtual std::wstring tailImage();                                                       // 5
  virtual int appId() { return 0; }                                                       // 6
  virtual int number() { return 200; }                                                    // 7
  virtual bool keepInitXml() { return false; }                                            // 8
  virtual bool usesPinstallMax() { return false; }                                        // 9
  virtual bool isInstalled() = 0;                                                         // 10
  virtual bool succeeded() = 0;                                                           // 11
  virtual std::wstring versionPrefix() = 0;                                               // 12
  virtual std::wstring windowTitle(size_t capacity, const StringTable& strings) = 0;      // 13
  virtual void runProduct() = 0;                                                          // 14
  virtual void applySettings();                                                           // 15
  virtual std::wstring productPageUrl(size_t capacity) = 0;                               // 16
  virtual void createShortcuts() = 0;                                                     // 17
  virtual bool closeRunningProduct() { return true; }                                     // 18
  virtual void addIdentityParams(std::map<std::wstring, std::wstring>& params);           // 19

  // Options of the command line.
  bool hasOption(const std::wstring& option) const { return options_.hasOption(option); }
  std::optional<std::wstring> optionValue(const std::wstring& option) const { return options_.optionValue(option); }

  // Stores the folder (trailing backslash removed) and writes "exec".
  // A folder of kFolderCapacity characters or more (or none) is refused
  // with an ERROR line and the current or default folder kept: false.
  bool setInstallFolder(const std::wstring& folder);
  static constexpr size_t kFolderCapacity = 260;
  const std::wstring& installFolder() const { return installFolder_; }
  // The 8.3 form, computed once; the long form where the system has none.
  const std::wstring& shortInstallFolder();
  const std::wstring& workFolder() const { return workFolder_; }

  const std::wstring& versionText();
  // "/installKey" over the bracketed part of the program's file name.
  std::wstring installKey();
  // Copies a "/pid" value over the partner id (logged).
  void applyPidOption();

  // Note a missing file or folder in the error text ("fne_"/"dne_").
  bool noteMissingFile(const std::wstring& path);
  bool noteMissingFolder(const std::wstring& path);
  // The runtime, download and worker threads append at the same time.
  void appendError(const std::wstring& token) { errors_ += token; }
  void appendJavaTrace(const std::wstring& token) { javaInstall_ += token; }

  // The start event's answer: the statistics thread marks it read once it
  // has been applied, or once it is clear that none will come; the
  // scenario waits for that at most limitMs before it takes the pack
  // addresses. True when it was read in time.
  void markStartAnswerRead();
  bool waitStartAnswerRead(unsigned long limitMs);
  // Another name for the mutex that lets one process apply the start
  // answer (tests: each wants to be first); empty for the usual one.
  std::wstring answerMutexName;

  // The server's answer at start, as the offer container hands it over: the
  // init xml (the first media item, also written to "init.xml") and the tail
  // (identifiers and pack addresses of the "installer" element).
  void readInitXml(const std::wstring& initXml);
  void readTail(const std::wstring& tailXml);

  // Executes every deferred command with a 256-character result and the log.
  void runDeferredCommands();
  // Takes ownership of the command.
  void addDeferredCommand(Command* command) { deferred_.push_back(command); }

  // Fields other parts read and set.
  bool runAfterInstall = true;
  bool loadWithWindows = true;
  bool associateTorrentFile = true;
  bool exceptFirewall = true;
  bool extraSwitch1 = true;
  bool extraSwitch2 = true;
  int installMode = kFreshInstall;
  int exitCode = -1;
  int moveCheckFlags = 0;
  int pinstallMax = 1;
  std::wstring statUrl;
  // Pauses between the tries of statistics requests and partner downloads;
  // tests shorten them.
  download::Timing networkTiming;
  // Written by the start answer on the statistics thread, read anywhere.
  SharedText pid, cid, sid;
  // The pack mirror roots the start answer adds, one per line.
  SharedText answerMirrors;
  std::wstring downloadDate;
  std::wstring userAgent, supportText, lastPage;
  SharedText modeExtension;
  SharedText errors_;
  SharedText javaInstall_;
  std::wstring installId;

  Log* log() const { return log_; }
  const std::wstring& productName() const { return productName_; }
  UserIdentity& identity() { return identity_; }
  TailData& tail() { return tail_; }
  Stopwatch& stopwatch() { return stopwatch_; }
  DownloadTally& downloads() { return downloads_; }
  // The first cause of failure the install met (own lock).
  failure::FailureRecord& failures() { return failures_; }
  CommandSender* commandSender() const { return sender_; }
  IPinstallContainer* offers() const { return offers_; }
  // The offer container lives above the context; whoever makes the context
  // gives it one (owned from then on) before any event is sent.
  void setOffers(IPinstallContainer* offers);
  const OptionTable& options() const { return options_; }

  // The registry key of the product under HKEY_CURRENT_USER.
  std::wstring productKey() const { return L"Software\\" + productName_; }
  // The folder of the registered "exec" program; empty when unregistered.
  std::wstring registeredFolder() const;

 protected:
  Log* log_;
  std::wstring productName_;
  std::wstring installFolder_;
  std::wstring shortInstallFolder_;
  std::wstring workFolder_;
  std::wstring versionText_;

 private:
  UserIdentity identity_;
  OptionTable options_;
  TailData tail_;
  Stopwatch stopwatch_;
  DownloadTally downloads_;
  failure::FailureRecord failures_;
  CommandSender* sender_ = nullptr;
  IPinstallContainer* offers_ = nullptr;
  std::vector<Command*> deferred_;
  std::mutex startAnswerLock_;
  std::condition_variable startAnswerRead_;
  bool startAnswerDone_ = false;
};
