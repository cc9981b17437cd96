#include "ui/win32/UiResources.h"

#include "app/StringTable.h"

namespace {
HFONT makeFont(int height, int weight, bool underline) {
  return CreateFontW(height, 0, 0, 0, weight, FALSE, underline ? TRUE : FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_OUTLINE_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, VARIABLE_PITCH, L"Tahoma");
}
UiResources* g_current = nullptr;
}  // namespace

FontSet::FontSet(int baseHeight)
    : normal_(makeFont(baseHeight, 100, false)),
      bold_(makeFont(baseHeight, 700, false)),
      small_(makeFont(13, 100, false)),
      link_(makeFont(13, 100, true)) {}

FontSet::~FontSet() {
  for (HFONT f : {normal_, bold_, small_, link_})
    if (f) DeleteObject(f);
}

std::wstring UiResources::text(const wchar_t* key) const {
  return strings_ ? strings_->lookup(key) : std::wstring(key);
}

UiResources* UiResources::current() { return g_current; }
void UiResources::setCurrent(UiResources* resources) { g_current = resources; }
