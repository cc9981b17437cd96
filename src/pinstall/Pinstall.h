#pragma once
// Partner offers as the rest of the installer sees them, and running one.
//
// For the partner pages: the container's groups() is a list of PinstallGroup;
// the first group is the one shown. Each group holds its offers (Pinstall,
// owned by the container and alive until the process ends); each offer's
// info() holds what a page shows (title, image URL, links, options) and the
// options' chosen flags, which the page sets and the runner reads. Showing a
// page calls writeOfferDate() on each of its offers.
//
// Threading: the campaigns are read on the statistics thread before any page
// exists; afterwards the main thread owns the chosen flags. run() may be
// called from any thread: the start lock lets only the first call through,
// the run lock is held for the whole install (waitForInstalls waits on it).
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "context/UrlParamAppender.h"

class Log;

// One choice of an offer: a check box on the partner page.
struct PinstallOption {
  std::wstring name;       // the key under "options"
  std::wstring label;      // in the chosen language; the name when there is no text
  std::wstring on;         // command-line part when chosen
  std::wstring off;        // command-line part when not chosen
  std::wstring dependsOn;  // name of the option this one follows; empty for a main option
  bool chosen = true;      // every option starts chosen
  bool shown = false;      // its box was on a page the user saw; a hidden option counts as not chosen
};

struct PinstallLink {
  std::wstring href;
  std::wstring label;  // in the chosen language; may be empty
};

// An accepted campaign. Text fields other than those with a stated width
// have no limit.
struct PinstallInfo {
  static constexpr size_t kIdWidth = 63;
  static constexpr size_t kParamsWidth = 1023;
  static constexpr size_t kUrlWidth = 259;
  static constexpr size_t kCampaignIdWidth = 63;

  std::wstring id;          // "pinstall": registry key name under Software\Pinstall
  std::wstring params;      // "pparams": the installer's command-line template
  std::wstring url;         // "pinstallUrl": where the partner installer is
  std::wstring campaignId;  // "campaignId", reported with the result
  std::wstring offerDate;   // when the record was made, ms since 1970 UTC, decimal
  std::wstring groupId;     // from "info"; empty when the campaign has none
  std::wstring title;       // "installer_title" in the chosen language
  std::wstring imageUrl;
  std::vector<PinstallLink> links;
  // In the order the JSON reader keeps an object's members (by name).
  std::vector<PinstallOption> options;
  std::vector<int> successCodes;  // always holds 0
  bool hasOptions = true;
};

// What an offer needs from the installer around it; the Windows host is
// pinstall/win32/PinstallHostWin32.
class PinstallHost {
 public:
  using Params = std::map<std::wstring, std::wstring>;
  virtual ~PinstallHost() = default;
  virtual int installMode() = 0;
  // The install's statistics parameters, the base of the template's map.
  virtual Params statisticsParams() = 0;
  // A new folder of its own under the temporary folder, with a trailing
  // separator; empty when it could not be made.
  virtual std::wstring createTempFolder() = 0;
  // The downloaded file's path; empty unless it names an existing file.
  virtual std::wstring download(const std::wstring& url, const std::wstring& folder) = 0;
  // Runs the command line and waits; its exit code (negative when it could
  // not be started or read).
  virtual int runAndWait(const std::wstring& commandLine) = 0;
  virtual void writeDate(const std::wstring& id, const wchar_t* valueName, const std::wstring& date) = 0;
  virtual void deleteFolder(const std::wstring& folder) = 0;
  virtual void sendFinishEvent(const UrlParamAppender& offer) = 0;
};

class Pinstall : public UrlParamAppender {
 public:
  // host and log outlive the offer.
  Pinstall(PinstallInfo info, Log* log, PinstallHost* host) : info_(std::move(info)), log_(log), host_(host) {}
  Pinstall(const Pinstall&) = delete;
  Pinstall& operator=(const Pinstall&) = delete;

  PinstallInfo& info() { return info_; }
  const PinstallInfo& info() const { return info_; }

  // Runs the offer once per process: downloads, runs and reports it. An
  // offer whose page the user never saw is not run and not reported.
  void run();
  // The user saw this offer with its first visibleOptions options (the
  // rest stay hidden and count as not chosen). Main thread, before run().
  void markShown(size_t visibleOptions);
  bool shown() const { return shown_; }
  // "offerDate" under Software\Pinstall\<id>.
  void writeOfferDate();

  // "presult", "pexitcode", "campaign_id", "pinstall".
  void appendUrlParams(std::map<std::wstring, std::wstring>& params) const override;

  bool done() const { return done_; }
  const std::wstring& exitCodeText() const { return exitCode_; }
  const std::wstring& resultText() const { return result_; }
  // Held for the whole of run(); waitForInstalls waits on it.
  std::mutex& runLock() { return runLock_; }

 private:
  void install(const PinstallHost::Params& params);

  PinstallInfo info_;
  Log* log_;
  PinstallHost* host_;
  std::mutex startLock_;
  std::mutex runLock_;
  bool started_ = false;
  bool shown_ = false;
  bool done_ = false;
  std::wstring exitCode_;  // at most 31 characters
  std::wstring result_;    // at most 31 characters
};

// An offer group: the offers sharing a "groupId" (or one offer, named by its
// identifier), in the order the campaigns came.
struct PinstallGroup {
  std::wstring name;
  std::vector<Pinstall*> pinstalls;  // owned by the container
};

namespace pinstall {

// Offers join the group named by their group id (their own id without one),
// groups in order of first appearance.
std::vector<PinstallGroup> groupOffers(const std::vector<Pinstall*>& offers);

// Each option's "on" part when chosen, else its "off" part, run together.
std::wstring optionsText(const std::vector<PinstallOption>& options);
// The options as the user could have chosen them: an option never shown
// counts as not chosen.
std::vector<PinstallOption> visibleChoices(const std::vector<PinstallOption>& options);
// At least one chosen option follows no other.
bool hasQualifyingChoice(const std::vector<PinstallOption>& options);
// Option i of n sets bit n-1-i when chosen: the first option is the highest
// bit. Options past the 64th bit are left out.
uint64_t resultMask(const std::vector<PinstallOption>& options);
// "${key}" becomes the map's value (nothing when it lacks the key); every
// other character, a "$" without "{" and an unclosed "${" included, stays.
std::wstring expandTemplate(const std::wstring& text, const std::map<std::wstring, std::wstring>& params);
// The installer's path (quoted when it holds a blank), then the options text
// unless the expanded template already holds it, then the template.
std::wstring partnerCommandLine(const std::wstring& exePath, const std::wstring& options,
                                const std::wstring& expandedTemplate);

}  // namespace pinstall
