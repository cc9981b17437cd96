// Feeds arbitrary test JSON to parseInstallTests and evaluates the set.
#include <cstddef>
#include <cstdint>

#include "FuzzSystem.h"
#include "app/Text.h"
#include "pinstall/InstallTests.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::wstring text = text::utf8ToWide(reinterpret_cast<const char*>(data), size);
  fuzzsupport::FuzzSystem system;
  auto set = pinstall::parseInstallTests(text, nullptr, system);
  bool fired = set->test();
  int index = set->firedIndex();
  if (fired != (index >= 0) || index >= static_cast<int>(set->size())) __builtin_trap();
  (void)pinstall::expandPathPlaceholders(text, system);
  (void)pinstall::textToLong(text);
  return 0;
}
