#include "context/win32/UserIdentity.h"

#include <windows.h>

#include "app/Log.h"
#include "app/win32/Files.h"
#include "app/win32/Registry.h"
#include "formats/Json.h"
#include "formats/Xml.h"

namespace {
const wchar_t kPinstallKey[] = L"Software\\Pinstall";
}

const wchar_t* const UserIdentity::kFamily[6] = {L"Vexa", L"Lumora", L"Strimly", L"Kinoteka Player",
                                                 L"Torvio", L"Playdock"};

UserIdentity::UserIdentity(Log* log) : log_(log) {
  iUserId_ = registry::readText(HKEY_CURRENT_USER, kPinstallKey, L"i_user_id");
  if (iUserId_.empty()) {
    iUserId_ = files::newGuidText();
    registry::writeText(HKEY_CURRENT_USER, kPinstallKey, L"i_user_id", iUserId_);
  }
}

void UserIdentity::readTail(const std::wstring& tailXml) {
  if (log_) log_->info(L"Reading s_user_id xml...");
  if (tailXml.empty()) {
    if (log_) log_->info(L"xml is empty");
  } else {
    XmlNode root;
    root.load(tailXml);
    auto installers = root.installerChildren();
    if (installers.empty()) {
      if (log_) log_->info(L"'installer' node not found");
    } else {
      const XmlAttribute* userId = installers.front()->attribute(L"userId");
      if (userId) {
        sUserId_ += userId->value;
      } else {
        sUserId_.clear();
      }
      if (log_) log_->info(L"Founded s_user_id is '" + sUserId_ + L"'");
    }
  }
  std::wstring stored = registry::readText(HKEY_CURRENT_USER, kPinstallKey, L"s_user_id", 256);
  if (!stored.empty()) {
    sUserId_ = stored;
    state_ = kSettled;
    return;
  }
  for (const wchar_t* name : kFamily) {
    std::wstring guid = registry::readText(HKEY_CURRENT_USER, std::wstring(L"Software\\") + name, L"GUID", 128);
    if (guid.empty()) continue;
    if (!guidList_.empty()) guidList_ += L";";
    guidList_ += guid;
  }
}

void UserIdentity::handleAnswer(const std::wstring& answer) {
  if (log_) log_->info(L"Handle response...");
  if (state_ != kUndecided) return;
  JsonValue root = parseJson(answer);
  if (root.type() != JsonValue::kObject) return;
  const JsonValue* data = root.find(L"data");
  if (!data || data->type() != JsonValue::kObject) return;
  const JsonValue* idState = data->find(L"idState");
  if (!idState || idState->type() != JsonValue::kString || idState->asString().empty()) return;
  if (idState->asString() == L"free") {
    if (!sUserId_.empty()) registry::writeText(HKEY_CURRENT_USER, kPinstallKey, L"s_user_id", sUserId_);
    state_ = kSettled;
    if (log_) log_->info(L"s_user_id is free");
  } else if (idState->asString() == L"busy") {
    state_ = kBusy;
    if (log_) log_->info(L"s_user_id is busy");
  }
}
