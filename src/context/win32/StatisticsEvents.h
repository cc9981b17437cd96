#pragma once
// Reports the start and the end of an install to the statistics endpoint:
// one GET per event whose only parameter carries the enciphered data. The
// answer to the start event is the server's word to this installer: the
// user's identity, the install data and the partner campaigns.
//
// Threading: the start event is sent on a thread of its own and its answer
// applied there; the finish events block the calling thread until the
// request is done (at most 60 s).
#include <map>
#include <string>

class InstallContext;
class UrlParamAppender;

namespace stats {

using Params = std::map<std::wstring, std::wstring>;

// "installStart" / "reinstallStart"; nothing in install mode 2.
std::wstring startEventName(int installMode);
// The finish event's name, or empty when the event has none (mode 2,
// started and cancelled).
std::wstring finishEventName(int installMode, bool started, bool cancelled, bool succeeded);

// The parameters every start and finish event carries.
Params commonParams(InstallContext& context, const std::wstring& mode);
Params finishParams(InstallContext& context, bool started, bool cancelled);

void sendStartEvent(InstallContext& context);
void sendFinishEvent(InstallContext& context, bool started, bool cancelled, bool readAnswer);
// "pinstallFinish" with the finish-path parameters; the offer, when given,
// adds its own before the request is built.
Params partnerFinishParams(InstallContext& context);
void sendPartnerFinishEvent(InstallContext& context, const UrlParamAppender* offer = nullptr);

// The mutex whose first creator applies a start event's answer.
constexpr wchar_t kAnswerMutexName[] = L"tolvaner_web_setup_mutex";

// Hands the answer to the identity, then, only when this process creates
// the named mutex, to the offer container (which also applies the tail and
// the init xml). False when the offers, tail and init xml were left alone.
bool applyAnswer(InstallContext& context, const std::wstring& answer,
                 const std::wstring& mutexName = kAnswerMutexName);

// The decimal CRC-32 of the user name's ANSI bytes, signed; "0" when the
// name cannot be read.
std::wstring userNameValue();

}  // namespace stats
