#include "pinstall/CampaignReader.h"

#include <cmath>
#include <limits>

#include "app/Log.h"
#include "app/Text.h"
#include "formats/Json.h"

namespace pinstall {
namespace {

constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();

std::wstring stringMember(const JsonValue& object, const wchar_t* key) {
  const JsonValue* v = object.type() == JsonValue::kObject ? object.find(key) : nullptr;
  return v && v->type() == JsonValue::kString ? v->asString() : std::wstring();
}

const JsonValue* objectMember(const JsonValue& object, const std::wstring& key) {
  const JsonValue* v = object.type() == JsonValue::kObject ? object.find(key) : nullptr;
  return v && v->type() == JsonValue::kObject ? v : nullptr;
}

// "messages".<key>.<language>; empty when any step is missing.
std::wstring message(const JsonValue* messages, const std::wstring& key, const wchar_t* language) {
  if (!messages) return std::wstring();
  const JsonValue* texts = objectMember(*messages, key);
  return texts ? stringMember(*texts, language) : std::wstring();
}

// Widths are counted in UTF-16 units, as the record's fields hold them.
size_t width(const std::wstring& s) { return text::toUtf16(s).size(); }

bool fits(const std::wstring& value, size_t limit, const wchar_t* name, const std::wstring& id, Log* log) {
  if (width(value) <= limit) return true;
  if (log)
    log->error(L"Skip pinstall " + id + L": " + name + L" longer than " + std::to_wstring(limit) + L" characters");
  return false;
}

void readInfo(const JsonValue& campaign, const JsonValue* messages, const wchar_t* language, PinstallInfo& info) {
  std::wstring infoText = stringMember(campaign, L"info");
  if (infoText.empty()) return;
  JsonValue parsed = parseJson(infoText);
  if (parsed.type() != JsonValue::kObject) return;
  info.groupId = stringMember(parsed, L"groupId");
  const JsonValue* links = parsed.find(L"links");
  if (!links || links->type() != JsonValue::kArray) return;
  for (const JsonValue& link : links->asArray()) {
    if (link.type() != JsonValue::kObject) continue;
    std::wstring textKey = stringMember(link, L"text");
    // A link is only as good as its label: without its message object it is
    // dropped.
    if (!messages || !objectMember(*messages, textKey)) continue;
    info.links.push_back(PinstallLink{stringMember(link, L"href"), message(messages, textKey, language)});
  }
}

void readOptions(const JsonValue& campaign, const JsonValue* messages, const wchar_t* language, PinstallInfo& info,
                 Log* log) {
  const JsonValue* options = objectMember(campaign, L"options");
  if (!options) {
    if (log) log->error(L"Json node 'options' not found");
    return;
  }
  if (log) log->info(L"vv-parse options--");
  for (const auto& [name, value] : options->asObject()) {
    PinstallOption option;
    option.name = name;
    if (value.type() == JsonValue::kString) {
      option.on = value.asString();
    } else if (value.type() == JsonValue::kObject) {
      option.on = stringMember(value, L"on");
      option.off = stringMember(value, L"off");
      option.dependsOn = stringMember(value, L"dependsOn");
    } else {
      continue;
    }
    option.label = message(messages, name, language);
    if (option.label.empty()) option.label = name;
    if (log) log->info(L"  " + option.name + L"=onOpt:" + option.on + L" offOpt:" + option.off);
    info.options.push_back(std::move(option));
  }
  if (log) log->info(L"^^-parse options--");
}

// Reads one campaign; false when it is skipped.
bool readCampaign(const JsonValue& campaign, CampaignEnvironment& environment, Log* log, std::wstring& modeExtension,
                  PinstallInfo& info) {
  const std::wstring id = stringMember(campaign, L"pinstall");
  // The identifier becomes a registry key name below Software\Pinstall and
  // a log field: it must not be able to leave that key or forge lines.
  if (!isUsableOfferId(id)) {
    if (log) log->error(L"Skip pinstall with an unusable identifier");
    return false;
  }
  modeExtension += L" ";
  const int64_t periodDays = checkPeriodDays(campaign.type() == JsonValue::kObject ? campaign.find(L"checkPeriod") : nullptr);
  if (log) log->info(L" found pinstall: " + id);
  modeExtension += id + L":";

  const std::wstring installed = environment.installDate(id);
  if (!installed.empty() && offerAgainAfterMs(textToInt64(installed), periodDays) > environment.nowMs()) {
    if (log) log->info(L"pinstall exist already");
    modeExtension += L"busy";
    modeExtension += L"reg";
    if (log) log->info(L"skip ");
    return false;
  }

  const JsonValue* test = campaign.find(L"installTest");
  if (test && test->type() == JsonValue::kString) {
    auto set = parseInstallTests(test->asString(), log, environment.testSystem());
    if (set->test()) {
      std::wstring fired = L"test" + std::to_wstring(set->firedIndex());
      modeExtension += fired;
      if (log) log->info(fired);
      if (log) log->info(L"InstallTest is true, skip pinstall");
      return false;
    }
    if (log) log->info(L"InstallTest is false, can be installed");
  }

  info.id = id;
  info.params = stringMember(campaign, L"pparams");
  info.campaignId = stringMember(campaign, L"campaignId");
  info.url = stringMember(campaign, L"pinstallUrl");
  if (!fits(info.params, PinstallInfo::kParamsWidth, L"pparams", id, log) ||
      !fits(info.campaignId, PinstallInfo::kCampaignIdWidth, L"campaignId", id, log) ||
      !fits(info.url, PinstallInfo::kUrlWidth, L"pinstallUrl", id, log))
    return false;
  modeExtension += L"free ";
  info.offerDate = std::to_wstring(environment.nowMs());
  info.imageUrl = stringMember(campaign, L"imageUrl");
  const wchar_t* language = languageCode(environment.languageId());
  const JsonValue* messages = objectMember(campaign, L"messages");
  info.title = message(messages, L"installer_title", language);
  readInfo(campaign, messages, language, info);
  readOptions(campaign, messages, language, info, log);
  info.successCodes = parseSuccessCodes(stringMember(campaign, L"success"));
  return true;
}

}  // namespace

std::vector<PinstallInfo> readCampaigns(const JsonValue& campaigns, CampaignEnvironment& environment, Log* log,
                                        std::wstring& modeExtension) {
  std::vector<PinstallInfo> accepted;
  const JsonValue::Array list = campaigns.asArray();
  if (list.empty()) {
    if (log) log->error(L"pinstallArray is null");
    return accepted;
  }
  modeExtension += L"pinstall:";
  if (log) log->info(L"vvv-parse pinstall list--");
  for (const JsonValue& campaign : list) {
    if (campaign.type() != JsonValue::kObject) continue;
    PinstallInfo info;
    if (readCampaign(campaign, environment, log, modeExtension, info)) accepted.push_back(std::move(info));
  }
  if (log) log->info(L"^^^-parse pinstall list--");
  return accepted;
}

const wchar_t* languageCode(int languageId) {
  if (languageId == 1049) return L"ru";
  if (languageId == 1058) return L"uk";
  return L"en";
}

int64_t textToInt64(const std::wstring& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    int digit = text[i] - L'0';
    if (negative) {
      value = value < (kInt64Min + digit) / 10 ? kInt64Min : value * 10 - digit;
    } else {
      value = value > (kInt64Max - digit) / 10 ? kInt64Max : value * 10 + digit;
    }
  }
  return value;
}

int64_t checkPeriodDays(const JsonValue* value) {
  if (!value) return 0;
  switch (value->type()) {
    case JsonValue::kString: return textToInt64(value->asString());
    case JsonValue::kInt: return value->intValue();
    case JsonValue::kFloat:
    case JsonValue::kDouble: {
      double d = value->doubleValue();
      if (std::isnan(d)) return 0;
      if (d >= 9.2e18) return kInt64Max;
      if (d <= -9.2e18) return kInt64Min;
      return static_cast<int64_t>(d);
    }
    default: return 0;
  }
}

int64_t offerAgainAfterMs(int64_t installDateMs, int64_t days) {
  int64_t period = 0;
  if (__builtin_mul_overflow(days, kDayMs, &period)) period = days > 0 ? kInt64Max : kInt64Min;
  int64_t sum = 0;
  if (__builtin_add_overflow(installDateMs, period, &sum)) sum = period > 0 ? kInt64Max : kInt64Min;
  return sum;
}

bool isUsableOfferId(const std::wstring& id) {
  if (id.empty() || width(id) > PinstallInfo::kIdWidth) return false;
  for (wchar_t c : id) {
    if (c == L'\\' || c < 0x20 || (c >= 0x7F && c <= 0x9F)) return false;
  }
  return true;
}

std::vector<int> parseSuccessCodes(const std::wstring& text) {
  std::vector<int> codes;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(L',', start);
    if (comma == std::wstring::npos) comma = text.size();
    if (comma > start) codes.push_back(textToLong(text.substr(start, comma - start)));
    start = comma + 1;
  }
  bool hasZero = false;
  for (int c : codes) hasZero = hasZero || c == 0;
  if (!hasZero) codes.push_back(0);
  return codes;
}

}  // namespace pinstall
