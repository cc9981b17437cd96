#pragma once
// Starting other programs: without waiting, waiting, and capturing output.
// Stateless; any thread may call. executeAndWait blocks its caller.
#include <windows.h>

#include <string>

class Log;

namespace processes {

constexpr int kNotStarted = -5;      // the process could not be created
constexpr int kNoExitCode = -2;      // its exit code could not be read
constexpr int kStillRunning = -4;    // it was still active after the wait (and was ended)

// How long a child may run before it is ended: long enough for the
// product's first run or an access-control reset on a slow disk.
constexpr unsigned long kChildLimitMs = 300000;
// A runtime's version or architecture report comes in a second or two.
constexpr unsigned long kProbeLimitMs = 60000;

// Shell "open" of file with params; the outcome is not checked.
void executeNoWait(Log* log, const std::wstring& file, const std::wstring& params);

// Runs the command line and waits for it, at most limitMs: then the child
// is ended, the time-out logged and kStillRunning returned. Standard output
// and error both go to stdOut. Returns the exit code or one of the negative
// codes above.
int executeAndWait(bool hidden, Log* log, const std::wstring& commandLine, HANDLE stdIn = nullptr,
                   HANDLE stdOut = nullptr, unsigned long limitMs = kChildLimitMs);

// Runs hidden with its output in a pipe that is read while the child runs,
// so a talkative child never blocks on a full pipe; at most limitMs, as
// above. Only when the exit code is 0 are the first 256 bytes of the output
// placed in output.
int executeAndCapture(Log* log, const std::wstring& commandLine, std::string& output,
                      unsigned long limitMs = kProbeLimitMs);

// The id of the first process whose executable file name equals exeName
// exactly (case-sensitive), or 0.
DWORD findProcess(const std::wstring& exeName);

}  // namespace processes
