#pragma once
// Facts about the machine reported with statistics: a disk serial that
// identifies it and, after a failed install, the antivirus products.
//
// Threading: called from the statistics paths. The serial cache is not
// guarded; the first call happens before any second thread asks.
#include <string>

class Log;

namespace probes {

// The first IDE disk's serial through WMI (cached after the first success),
// else "_" + the current drive's volume serial.
std::wstring diskSerial(Log* log);
// "name_state;" per antivirus product, or "WinXP" / "err2".."err5".
std::wstring antivirusList(Log* log);
// For tests: forget the cached serial.
void clearSerialCache();

}  // namespace probes
