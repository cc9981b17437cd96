#include "ui/win32/TaskbarProgress.h"

#include <shobjidl.h>

namespace {
// An elevated installer gets no messages from the (unelevated) shell unless
// it lets this one through. Windows 7 and later.
void allowFromShell(HWND window, UINT message) {
  using Filter = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  auto filter = user32 ? reinterpret_cast<Filter>(reinterpret_cast<void*>(
                             GetProcAddress(user32, "ChangeWindowMessageFilterEx")))
                       : nullptr;
  if (filter && message) filter(window, message, 1 /* MSGFLT_ALLOW */, nullptr);
}
}  // namespace

UINT TaskbarProgress::buttonCreatedMessage() {
  static const UINT message = RegisterWindowMessageW(L"TaskbarButtonCreated");
  return message;
}

TaskbarProgress::TaskbarProgress(HWND window) : window_(window) {
  if (!window_) return;
  void* list = nullptr;
  if (CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3, &list) == S_OK && list) {
    list_ = static_cast<ITaskbarList3*>(list);
    if (list_->HrInit() != S_OK) {
      list_->Release();
      list_ = nullptr;
    }
  }
  if (list_) allowFromShell(window_, buttonCreatedMessage());
}

TaskbarProgress::~TaskbarProgress() {
  if (list_) list_->Release();
}

void TaskbarProgress::buttonCreated() {
  buttonReady_ = true;
  apply();
}

void TaskbarProgress::progress(int percent) {
  if (state_.progress(percent)) apply();
}
void TaskbarProgress::failed() {
  if (state_.failed()) apply();
}
void TaskbarProgress::ended() {
  if (state_.ended()) apply();
}

void TaskbarProgress::apply() {
  if (!list_ || !buttonReady_) return;
  TaskbarState::Shown shown = state_.shown();
  switch (shown.look) {
    case TaskbarState::Look::kNothing:
      list_->SetProgressState(window_, TBPF_NOPROGRESS);
      break;
    case TaskbarState::Look::kProgress:
      list_->SetProgressState(window_, TBPF_NORMAL);
      list_->SetProgressValue(window_, static_cast<ULONGLONG>(shown.percent), 100);
      break;
    case TaskbarState::Look::kError:
      // The bar keeps its length and turns red.
      list_->SetProgressValue(window_, static_cast<ULONGLONG>(shown.percent), 100);
      list_->SetProgressState(window_, TBPF_ERROR);
      break;
  }
}
