#pragma once
// The wizard's taskbar button as a progress bar (ITaskbarList3, Windows 7
// and later). Where the system lacks the interface (older systems, Wine)
// every call does nothing.
//
// The shell announces the button with the registered "TaskbarButtonCreated"
// message, and only then takes progress: the window passes that message to
// buttonCreated, which puts the current state on the new button.
//
// Threading: UI thread only; COM must be initialised on it.
#include <windows.h>

#include "ui/TaskbarState.h"

struct ITaskbarList3;

class TaskbarProgress {
 public:
  explicit TaskbarProgress(HWND window);
  ~TaskbarProgress();
  TaskbarProgress(const TaskbarProgress&) = delete;
  TaskbarProgress& operator=(const TaskbarProgress&) = delete;

  // The "TaskbarButtonCreated" message's id (0 where the system has none).
  static UINT buttonCreatedMessage();
  void buttonCreated();

  void progress(int percent);
  void failed();
  void ended();

  bool available() const { return list_ != nullptr; }
  const TaskbarState& state() const { return state_; }

 private:
  void apply();

  HWND window_;
  ITaskbarList3* list_ = nullptr;
  bool buttonReady_ = false;
  TaskbarState state_;
};
