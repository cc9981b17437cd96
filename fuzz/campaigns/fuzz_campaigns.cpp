// Feeds arbitrary "campaigns" arrays to the campaign reader, then groups the
// offers and builds each one's options text, result mask and command line,
// checking what the reader promises about every accepted record.
#include <cstddef>
#include <cstdint>

#include "FuzzSystem.h"
#include "app/Text.h"
#include "formats/Json.h"
#include "pinstall/CampaignReader.h"
#include "pinstall/Pinstall.h"

namespace {

class FuzzEnvironment : public pinstall::CampaignEnvironment {
 public:
  std::wstring installDate(const std::wstring& id) override {
    switch (fuzzsupport::hash(id) % 4) {
      case 0: return std::wstring();
      case 1: return L"9223372036854775807";
      case 2: return L"-9223372036854775808";
      default: return L"1699990000000";
    }
  }
  int64_t nowMs() override { return 1700000000000; }
  int languageId() override { return 1049; }
  pinstall::InstallTestSystem& testSystem() override { return system_; }

 private:
  fuzzsupport::FuzzSystem system_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::wstring text = text::utf8ToWide(reinterpret_cast<const char*>(data), size);
  JsonValue campaigns = parseJson(text);
  FuzzEnvironment environment;
  std::wstring mode;
  std::vector<PinstallInfo> records = pinstall::readCampaigns(campaigns, environment, nullptr, mode);

  std::vector<std::unique_ptr<Pinstall>> offers;
  std::vector<Pinstall*> pointers;
  for (auto& info : records) {
    if (!pinstall::isUsableOfferId(info.id)) __builtin_trap();
    if (text::toUtf16(info.params).size() > PinstallInfo::kParamsWidth) __builtin_trap();
    if (text::toUtf16(info.url).size() > PinstallInfo::kUrlWidth) __builtin_trap();
    if (text::toUtf16(info.campaignId).size() > PinstallInfo::kCampaignIdWidth) __builtin_trap();
    bool zero = false;
    for (int code : info.successCodes) zero = zero || code == 0;
    if (!zero) __builtin_trap();
    offers.push_back(std::make_unique<Pinstall>(std::move(info), nullptr, nullptr));
    pointers.push_back(offers.back().get());
  }
  size_t grouped = 0;
  for (const auto& group : pinstall::groupOffers(pointers)) grouped += group.pinstalls.size();
  if (grouped != pointers.size()) __builtin_trap();

  std::map<std::wstring, std::wstring> params{{L"pid", L"p"}, {L"installId", L"i"}};
  for (Pinstall* offer : pointers) {
    auto& options = offer->info().options;
    for (size_t i = 0; i < options.size(); i += 2) options[i].chosen = false;
    std::wstring optionText = pinstall::optionsText(options);
    params[L"options"] = optionText;
    std::wstring expanded = pinstall::expandTemplate(offer->info().params, params);
    std::wstring line = pinstall::partnerCommandLine(L"C:\\t\\G\\setup.exe", optionText, expanded);
    if (line.find(optionText) == std::wstring::npos) __builtin_trap();
    (void)pinstall::resultMask(options);
    (void)pinstall::hasQualifyingChoice(options);
  }
  return 0;
}
