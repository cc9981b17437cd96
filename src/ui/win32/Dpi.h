#pragma once
// High-DPI screens: every window of the installer is laid out in 96-DPI
// units and drawn at its own DPI. A child made here remembers its 96-DPI
// place and its 96-DPI font (as window properties), so that a change of DPI
// (WM_DPICHANGED: the window moved to another monitor, or the user changed
// the scaling) lays the whole window out again from those. At 96 DPI
// nothing is scaled: every control stays where the 96-DPI layout puts it.
//
// The program declares per-monitor awareness in its manifest; systems
// without it (before Windows 8.1) give the system's DPI, older ones 96.
//
// Threading: UI thread only (the font cache is not guarded).
#include <windows.h>

namespace dpi {

// The DPI the window is drawn at: its own where the system keeps one per
// window, else the system's.
UINT of(HWND hwnd);

// A length of the 96-DPI layout at this window's DPI.
int scaled(HWND hwnd, int value);

// A child window placed at the 96-DPI geometry scaled to the parent's DPI,
// with the font's variant for that DPI; both are remembered.
HWND createChild(DWORD exStyle, const wchar_t* className, const wchar_t* text, DWORD style, int x, int y, int width,
                 int height, HWND parent, HFONT font = nullptr, HINSTANCE module = nullptr);

// Moves a child to a 96-DPI geometry (remembered) at its DPI.
void move(HWND child, int x, int y, int width, int height);

// Gives the control the font's variant for its DPI; the 96-DPI font is
// remembered for later changes of DPI.
void setFont(HWND control, HFONT font);

// The font as tall as a 96-DPI font would look at dpi: the font itself at
// 96, else a copy made once and kept for the process.
HFONT fontFor(HFONT font, UINT dpi);

// After CreateWindowEx of a top-level window at its 96-DPI outer size:
// resizes it to the same client area scaled to its DPI, keeping its centre,
// and gives the client area's 96-DPI size. At 96 DPI the window is left as
// it is and the size is its client rectangle's.
SIZE fitTopLevel(HWND window, int outerWidth, int outerHeight);

// Lays out every descendant of the window again for dpi, from what it
// remembered, and repaints.
void relayout(HWND window, UINT dpi);

// The answer to WM_DPICHANGED: takes the system's suggested rectangle and
// lays the window out for the new DPI.
void onDpiChanged(HWND window, WPARAM wparam, LPARAM lparam);

}  // namespace dpi
