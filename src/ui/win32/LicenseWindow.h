#pragma once
// The licence agreement: which resource holds it, and the window that shows
// it rendered from RTF.
//
// Threading: main thread.
#include <windows.h>

#include <string>

class StringTable;
class UiResources;

class LicenseResourceProvider {
 public:
  virtual ~LicenseResourceProvider() = default;
  // The RTF document; empty when there is none.
  virtual std::string text() = 0;
  virtual bool hasText() = 0;
};

// Resource type "lic": 106 Russian (1049), 108 Ukrainian (1058), else 107.
class LicenseResourceProviderImpl : public LicenseResourceProvider {
 public:
  explicit LicenseResourceProviderImpl(const StringTable* strings);
  std::string text() override;
  bool hasText() override;
  int resourceId() const { return id_; }
  static int resourceIdForLanguage(int languageId);

 private:
  int id_;
};

namespace licence {
// Opens the licence window over owner ("Cancel" hidden when showCancel is
// false). The window lives until one of its buttons or its close box ends it.
HWND open(HWND owner, UiResources* resources, LicenseResourceProvider* provider, bool showCancel);
// What the last licence window ended with: 1 accepted ("Close"), 2 refused
// ("Cancel"), 3 closed by its close box, 0 none yet. Nothing acts on it.
int lastOutcome();
}  // namespace licence
