#pragma once
// The record every widget is created with: the module (resources, window
// classes), the fonts, the log, the active string table and the handlers of
// user messages that the wizard consults. One per process, made at start-up.
//
// Threading: made on the main thread and only read afterwards; the handler
// list is filled before the message loop runs.
#include <windows.h>

#include <string>
#include <vector>

class Log;
class StringTable;
class WidgetCommandHandler;

// Four "Tahoma" fonts: normal and bold of the base height, small and link
// (underlined) of height 13.
class FontSet {
 public:
  explicit FontSet(int baseHeight);
  ~FontSet();
  FontSet(const FontSet&) = delete;
  FontSet& operator=(const FontSet&) = delete;

  HFONT normal() const { return normal_; }
  HFONT bold() const { return bold_; }
  HFONT small() const { return small_; }
  HFONT link() const { return link_; }

 private:
  HFONT normal_, bold_, small_, link_;
};

class UiResources {
 public:
  UiResources(HINSTANCE module, FontSet* fonts, Log* log, const StringTable* strings)
      : module_(module), fonts_(fonts), log_(log), strings_(strings) {}

  HINSTANCE module() const { return module_; }
  FontSet* fonts() const { return fonts_; }
  Log* log() const { return log_; }
  const StringTable* strings() const { return strings_; }
  // The key's text, or the key itself when there is no table or no entry.
  std::wstring text(const wchar_t* key) const;

  std::vector<WidgetCommandHandler*>& handlers() { return handlers_; }

  // The process-wide record (dialogs are built from it). Not owned.
  static UiResources* current();
  static void setCurrent(UiResources* resources);

 private:
  HINSTANCE module_;
  FontSet* fonts_;
  Log* log_;
  const StringTable* strings_;
  std::vector<WidgetCommandHandler*> handlers_;
};
