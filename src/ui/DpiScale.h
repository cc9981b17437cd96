#pragma once
// Lengths of the user interface are given for 96 DPI (100 %); a window on a
// denser screen draws them scaled by its DPI. Portable: the Win32 side
// (ui/win32/Dpi.h) applies these numbers to windows.
namespace dpiscale {

constexpr int kBaseDpi = 96;

// value * dpi / 96, rounded half away from zero (as MulDiv rounds), so that
// 96 DPI gives every value back unchanged. A DPI of 0 or below counts as 96.
int scale(int value, int dpi);

// The inverse, for a length measured at dpi: value * 96 / dpi, rounded.
int unscale(int value, int dpi);

struct Box {
  int x = 0, y = 0, width = 0, height = 0;
};

// A rectangle scaled by its edges rather than by its size: two boxes that
// touch or share an edge at 96 DPI still do at any DPI, and each edge is
// within half a pixel of the exact product.
Box scaleBox(const Box& box, int dpi);

}  // namespace dpiscale
