#pragma once
// Handing the installation over to an elevated copy of the program.
#include <functional>
#include <string>

class Log;

namespace elevation {

// Starts program with verb and parameters; 0 when started, else the
// system's error code. The default goes through the shell.
using Launcher = std::function<unsigned long(const std::wstring& program, const std::wstring& verb,
                                             const std::wstring& parameters)>;

struct Outcome {
  bool started = false;
  unsigned long error = 0;  // why not, when not started
};

// Starts the program again through the shell with the "runas" verb (or from
// a temporary copy with "open" on systems before version 6 for an
// administrator), adding "/logPath" and the log's path. A refusal or failure
// is an ERROR line; a silent run shows no window, the rest may show the
// system's reason. launcher replaces the shell (tests).
Outcome relaunchElevated(Log* log, const std::wstring& parameters, bool silent, const Launcher& launcher = nullptr);

// True when the process token holds the built-in Administrators group.
bool isAdministrator();

}  // namespace elevation
