#include "context/win32/StatisticsEvents.h"

#include <windows.h>


#include "app/Log.h"
#include "app/Text.h"
#include "app/Threads.h"
#include "app/win32/NamedMutex.h"
#include "app/win32/SystemInfo.h"
#include "context/StatRequest.h"
#include "context/UrlParamAppender.h"
#include "context/win32/InstallContext.h"
#include "context/win32/SystemProbes.h"
#include "download/win32/Downloads.h"
#include "formats/Crc32.h"
#include "formats/Json.h"
#include "context/win32/IPinstallContainer.h"

namespace stats {
namespace {

constexpr int kRequestTimeoutMs = 60000;

struct SendJob {
  std::wstring label;
  std::wstring url;
  InstallContext* context;
  bool readAnswer;
};

std::wstring buildUrl(InstallContext& context, const std::wstring& base, const Params& params) {
  if (context.log()) context.log()->info(L"Builded request params: " + joinParams(params));
  return buildRequestUrl(base, params);
}

void runJob(const SendJob& job) {
  Log* log = job.context->log();
  std::wstring answer = download::downloadAnswerToString(nullptr, job.label, job.url, log, kRequestTimeoutMs, 0, false,
                                                             job.context->networkTiming);
  if (job.readAnswer && !answer.empty()) {
    const std::wstring& mutexName = job.context->answerMutexName;
    applyAnswer(*job.context, answer, mutexName.empty() ? std::wstring(kAnswerMutexName) : mutexName);
  }
}

void addFinishPathParams(InstallContext& context, Params& params) {
  if (context.installMode == 0 || context.installMode == 1) {
    params[L"java_install"] = context.javaInstall_;
    params[L"xul"] = std::to_wstring(context.moveCheckFlags);
  }
}

}  // namespace

// The answer's optional mirror roots, which readers of the other members
// pass over; items that are not texts are left out.
void takeAnswerMirrors(InstallContext& context, const std::wstring& answer) {
  JsonValue root = parseJson(answer);
  const JsonValue* data = root.type() == JsonValue::kObject ? root.find(L"data") : nullptr;
  const JsonValue* mirrors = data && data->type() == JsonValue::kObject ? data->find(L"packMirrors") : nullptr;
  if (!mirrors || mirrors->type() != JsonValue::kArray) return;
  std::wstring lines;
  constexpr size_t kMostMirrors = 16;
  size_t taken = 0;
  for (const JsonValue& item : mirrors->asArray()) {
    if (item.type() != JsonValue::kString || taken == kMostMirrors) continue;
    lines += text::fitOrEmpty(item.asString(), 1024) + L"\n";
    ++taken;
  }
  context.answerMirrors = lines;
  if (context.log()) context.log()->info(L"Pack mirrors from the start answer: " + std::to_wstring(taken));
}

bool applyAnswer(InstallContext& context, const std::wstring& answer, const std::wstring& mutexName) {
  context.identity().handleAnswer(answer);
  takeAnswerMirrors(context, answer);
  // Only the first web-setup process of this kind applies an answer; the
  // handle stays open until the process ends. A mutex that exists already,
  // or that could not be had at all, means another process came first.
  HANDLE mutex = nullptr;
  namedmutex::Outcome outcome = namedmutex::create(mutexName, &mutex);
  if (outcome == namedmutex::Outcome::kFailed && context.log()) {
    context.log()->error(L"can't create mutex " + mutexName);
    context.log()->writeLastError();
  }
  if (outcome != namedmutex::Outcome::kCreated) return false;
  if (context.offers()) context.offers()->load(context, answer);
  return true;
}

std::wstring startEventName(int installMode) {
  if (installMode == 0) return L"installStart";
  if (installMode == 1) return L"reinstallStart";
  return std::wstring();
}

std::wstring finishEventName(int installMode, bool started, bool cancelled, bool succeeded) {
  if (!started) return L"cancel";
  if (installMode == 0) return cancelled ? L"installCancel" : succeeded ? L"installFinish" : L"installFail";
  if (installMode == 1) return cancelled ? L"reinstallCancel" : succeeded ? L"reinstallFinish" : L"reinstallFail";
  if (installMode == 2 && !cancelled) return L"restart";
  return std::wstring();
}

std::wstring userNameValue() {
  std::string name = sysinfo::userNameAnsi();
  if (name.empty()) return L"0";
  return std::to_wstring(static_cast<int32_t>(crc32(name.data(), name.size())));
}

Params commonParams(InstallContext& context, const std::wstring& mode) {
  Params p;
  p[L"guid"] = context.identity().guidList();
  p[L"s_user_id"] = context.identity().sUserId();
  p[L"i_user_id"] = context.identity().iUserId();
  if (!mode.empty()) p[L"mode"] = mode;
  p[L"version"] = context.versionText();
  p[L"os"] = sysinfo::osVersionText();
  p[L"installId"] = context.installId;
  p[L"pid"] = context.pid;
  p[L"cid"] = context.cid;
  p[L"sid"] = context.sid;
  p[L"torrentHash"] = context.tail().torrentHash();
  p[L"serial"] = probes::diskSerial(context.log());
  p[L"downloadDate"] = context.downloadDate;
  p[L"appId"] = std::to_wstring(context.appId());
  p[L"userName"] = userNameValue();
  p[L"ua"] = context.userAgent;
  p[L"support"] = context.supportText;
  p[L"last_page"] = context.lastPage;
  p[L"trace"] = jsonObjectText(context.stopwatch().trace());
  p[L"mode_ext"] = context.modeExtension;
  if (!context.errors_.empty()) p[L"errors"] = context.errors_;
  p[L"installKey"] = context.installKey();
  return p;
}

Params finishParams(InstallContext& context, bool started, bool cancelled) {
  Params extra;
  context.addProductStatParams(extra, true);
  bool succeeded = context.succeeded();
  Params p = commonParams(context, finishEventName(context.installMode, started, cancelled, succeeded));
  for (auto& e : extra) p[e.first] = e.second;
  if (!succeeded) p[L"antivirus"] = probes::antivirusList(context.log());
  // The cause goes last, as one more token: readers that count tokens count it too.
  if (const failure::Failure why = context.failures().get(); !succeeded && why) {
    p[L"errors"] = context.errors_.get() + L"cause_" + text::utf8ToWide(failure::token(why.cause)) + L";";
  }
  addFinishPathParams(context, p);
  return p;
}

void sendStartEvent(InstallContext& context) {
  if (context.installMode == InstallContext::kAlreadyInstalled) {
    context.markStartAnswerRead();
    return;
  }
  Params params = commonParams(context, startEventName(context.installMode));
  SendJob job{L"sendStart", buildUrl(context, context.statUrl, params), &context, true};
  const bool started = threads::startDetached(context.log(), L"sendStart", [job] {
    Log* log = job.context->log();
    if (log) log->info(L"+++++BEGIN thread sendStart");
    runJob(job);
    // Answered or not, nothing more will come: the scenario may go on.
    job.context->markStartAnswerRead();
    if (log) log->info(L"-----END thread sendStart");
  });
  if (!started) context.markStartAnswerRead();
  context.applyPidOption();
}

void sendFinishEvent(InstallContext& context, bool started, bool cancelled, bool readAnswer) {
  Params params = finishParams(context, started, cancelled);
  runJob(SendJob{L"sendFinish", buildUrl(context, context.statUrl, params), &context, readAnswer});
}

Params partnerFinishParams(InstallContext& context) {
  Params params = commonParams(context, L"pinstallFinish");
  addFinishPathParams(context, params);
  return params;
}

void sendPartnerFinishEvent(InstallContext& context, const UrlParamAppender* offer) {
  Params params = partnerFinishParams(context);
  if (offer) offer->appendUrlParams(params);
  runJob(SendJob{L"sendFinish", buildUrl(context, context.statUrl, params), &context, false});
}

}  // namespace stats
