#include "app/win32/ProcessEnd.h"

#include <windows.h>

namespace processend {

void endProcess(int code) { ExitProcess(static_cast<UINT>(code)); }

}  // namespace processend
