#pragma once
// Handing the installation over to an elevated copy of the program.
#include <string>

class Log;

namespace elevation {

// Starts the program again through the shell with the "runas" verb (or from
// a temporary copy with "open" on systems before version 6 for an
// administrator), adding "/logPath" and the log's path. True when started.
bool relaunchElevated(Log* log, const std::wstring& parameters);

// True when the process token holds the built-in Administrators group.
bool isAdministrator();

}  // namespace elevation
