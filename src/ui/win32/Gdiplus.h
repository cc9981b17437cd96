#pragma once
// GDI+ with what it expects: min/max (the build defines NOMINMAX) and the
// COM property types that the lean Windows headers leave out.
#include <windows.h>
#include <objidl.h>
#include <propidl.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>
