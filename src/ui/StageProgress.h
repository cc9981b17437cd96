#pragma once
// What one stage item of the main page shows: its format, the percentage
// it last showed and the dots that mark activity before any percentage.
// Kept apart from the window so a test can drive it.
//
// Threading: main thread only (the wizard hands listener calls over first).
#include <string>

class StageProgress {
 public:
  // format has one "%s", the stage's progress text.
  explicit StageProgress(std::wstring format) : format_(std::move(format)), shown_(initialText()) {}

  enum class Look { kUnchanged, kActive, kDone };
  struct Update {
    bool textChanged = false;  // text() differs from what was shown before
    Look look = Look::kUnchanged;
  };

  // A progress report: exact percent as text (none for 0), then active or,
  // at exactly 100, done.
  Update onProgress(int percent, float exactPercent);
  // Activity without a percentage: one to five dots, cycling. Ignored once
  // a percentage was shown.
  Update onTick();
  // The install failed in this stage: failedFormat's "%s" takes the stage's
  // text without its progress; the look stays active, never done. Later
  // reports change nothing until reset().
  Update onFailed(const std::wstring& failedFormat);
  // Back to the text before any report, for a second try.
  Update reset();
  bool failed() const { return failed_; }

  const std::wstring& text() const { return shown_; }
  // The text before any report: the format with an empty progress text.
  std::wstring initialText() const;
  float lastPercent() const { return lastPercent_; }

 private:
  Update show(const std::wstring& progress);
  std::wstring format_;
  std::wstring shown_;
  float lastPercent_ = 0;
  int ticks_ = 0;
  bool failed_ = false;
};
