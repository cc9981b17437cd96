#pragma once
// Turns the "campaigns" array of the server's start answer into offer
// records: the recently-installed rule, the install tests, the localised
// texts, the links, the options and the success codes. Every step is
// written to the log and to the extended mode text that the statistics
// report ("pinstall:", then per campaign " ", id, ":" and "busy" "reg",
// "test<n>" or "free ").
//
// Campaigns whose identifier could name a key outside Software\Pinstall, or
// whose values do not fit the record, are refused whole with an ERROR line:
// a cut address or template would run something else.
//
// Threading: none of its own; the container calls it under its lock.
#include <cstdint>
#include <string>
#include <vector>

#include "pinstall/InstallTests.h"
#include "pinstall/Pinstall.h"

class JsonValue;
class Log;

namespace pinstall {

// What reading campaigns asks of the machine.
class CampaignEnvironment {
 public:
  virtual ~CampaignEnvironment() = default;
  // "installDate" under Software\Pinstall\<id>; empty when there is none.
  virtual std::wstring installDate(const std::wstring& id) = 0;
  // Milliseconds since 1970-01-01 UTC.
  virtual int64_t nowMs() = 0;
  // The system's default language id (1049 Russian, 1058 Ukrainian).
  virtual int languageId() = 0;
  virtual InstallTestSystem& testSystem() = 0;
};

constexpr int64_t kDayMs = 86400000;

// The accepted campaigns' records, in order.
std::vector<PinstallInfo> readCampaigns(const JsonValue& campaigns, CampaignEnvironment& environment, Log* log,
                                        std::wstring& modeExtension);

// "ru", "uk" or "en".
const wchar_t* languageCode(int languageId);

// A number, or a string holding a decimal integer (leading blanks and a
// sign allowed, digits up to the first other character); anything else is
// 0. Saturates at the 64-bit limits.
int64_t checkPeriodDays(const JsonValue* value);
int64_t textToInt64(const std::wstring& text);

// installDate + days × one day, saturating: a period too large for the
// arithmetic means "not again within any time that matters".
int64_t offerAgainAfterMs(int64_t installDateMs, int64_t days);

// Not empty, at most 63 characters, no backslash, no control character.
bool isUsableOfferId(const std::wstring& id);

// Comma-separated decimal codes, empty pieces skipped; 0 appended when
// absent.
std::vector<int> parseSuccessCodes(const std::wstring& text);

}  // namespace pinstall
