#include "context/win32/UserIdentity.h"

#include <windows.h>

#include "app/Log.h"
#include "app/win32/Files.h"
#include "app/win32/Registry.h"

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
