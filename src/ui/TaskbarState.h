#pragma once
// What the wizard's taskbar button shows: the install's overall progress
// while it runs, the error state when it failed, nothing once it is over.
// Portable; ui/win32/TaskbarProgress.h puts it on the button.
//
// The button may appear after the first reports (the shell announces it
// with a message): shown() is what a new button must be given.
class TaskbarState {
 public:
  enum class Look { kNothing, kProgress, kError };
  struct Shown {
    Look look = Look::kNothing;
    int percent = 0;
  };

  // Each returns true when the button must change.
  // Progress in percent, clamped to 0..100; ignored once failed or ended.
  bool progress(int percent);
  // The install failed: the error state, at the last progress, until the end.
  bool failed();
  // The install is over: the button shows nothing, whatever comes later.
  bool ended();

  Shown shown() const { return shown_; }

 private:
  Shown shown_;
  bool over_ = false;
};
