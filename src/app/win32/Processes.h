#pragma once
// Starting other programs: without waiting, waiting, and capturing output.
// Stateless; any thread may call. executeAndWait blocks its caller.
#include <windows.h>

#include <string>

class Log;

namespace processes {

constexpr int kNotStarted = -5;      // the process could not be created
constexpr int kNoExitCode = -2;      // its exit code could not be read
constexpr int kStillRunning = -4;    // it was still active after the wait

// Shell "open" of file with params; the outcome is not checked.
void executeNoWait(Log* log, const std::wstring& file, const std::wstring& params);

// Runs the command line and waits for it without a time limit. Standard
// output and error both go to stdOut. Returns the exit code or one of the
// negative codes above.
int executeAndWait(bool hidden, Log* log, const std::wstring& commandLine, HANDLE stdIn = nullptr,
                   HANDLE stdOut = nullptr);

// Runs hidden with its output in a pipe; only when the exit code is 0 are up
// to 256 bytes of the output (one read) placed in output.
int executeAndCapture(Log* log, const std::wstring& commandLine, std::string& output);

// The id of the first process whose executable file name equals exeName
// exactly (case-sensitive), or 0.
DWORD findProcess(const std::wstring& exeName);

}  // namespace processes
