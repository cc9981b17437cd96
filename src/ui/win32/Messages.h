#pragma once
// The window messages by which other threads reach the user interface.
// Every hand-over from a worker, download or statistics thread to a window
// is one of these, posted (never sent), so no thread ever waits for the
// main thread and the main thread never waits for them.
#include <windows.h>

namespace ui {
// To the wizard window (above WM_USER, so they reach onUserMessage).
// Progress messages carry no value: the receiver reads the latest one the
// reporting thread stored (see InstallerWizard), so they coalesce.
constexpr UINT kMsgStageProgress = WM_APP + 1;  // wparam: stage
constexpr UINT kMsgStageTick = WM_APP + 2;      // wparam: stage
constexpr UINT kMsgTotalProgress = WM_APP + 3;
constexpr UINT kMsgInstallDone = WM_APP + 4;
constexpr UINT kMsgScenarioEnd = WM_APP + 5;
constexpr UINT kMsgTailChanged = WM_APP + 6;
// To an Image widget: lparam is a decoded Gdiplus::Image the widget adopts,
// handed out through handoff::give (anything else is ignored).
constexpr UINT kMsgImageArrived = WM_APP + 20;
}  // namespace ui
