#include "app/win32/Processes.h"

#include <shellapi.h>
#include <tlhelp32.h>

#include <vector>

#include "app/Log.h"
#include "app/win32/Files.h"

namespace processes {

void executeNoWait(Log* log, const std::wstring& file, const std::wstring& params) {
  if (file.empty()) return;
  if (log) {
    std::wstring line = L"Execute process NO WAIT, cmd: [" + file + L"], param: [" + params + L"]";
    if (line.size() > 1023) line.resize(1023);
    log->info(line);
  }
  ShellExecuteW(GetDesktopWindow(), L"open", file.c_str(), params.c_str(), nullptr, SW_SHOWNORMAL);
}

namespace {

constexpr size_t kCaptureBytes = 256;

// Takes what the pipe holds now without ever blocking: a grandchild may
// keep the write end open after the child has gone.
void drainPipe(HANDLE readEnd, std::string& kept) {
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) || available == 0) return;
    char buffer[4096];
    DWORD n = 0;
    if (!ReadFile(readEnd, buffer, available < sizeof(buffer) ? available : sizeof(buffer), &n, nullptr) || n == 0)
      return;
    if (kept.size() < kCaptureBytes) kept.append(buffer, n < kCaptureBytes - kept.size() ? n : kCaptureBytes - kept.size());
  }
}

// Starts the child and waits at most limitMs. With readEnd, the pipe is
// drained while the child runs and ownWriteEnd (our copy of the child's
// output handle) is closed once the child holds its own.
int run(bool hidden, Log* log, const std::wstring& commandLine, HANDLE stdIn, HANDLE stdOut, unsigned long limitMs,
        files::UniqueHandle* ownWriteEnd, HANDLE readEnd, std::string* kept) {
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  si.wShowWindow = hidden ? SW_HIDE : SW_SHOWDEFAULT;
  si.hStdInput = stdIn;
  si.hStdOutput = stdOut;
  si.hStdError = stdOut;
  if (log) {
    log->info(L"Execute process, WAIT cmd:");
    log->info(commandLine);
  }
  int exitCode = kNotStarted;
  PROCESS_INFORMATION pi{};
  std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
  mutableLine.push_back(L'\0');
  if (CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    files::UniqueHandle process(pi.hProcess);
    files::UniqueHandle thread(pi.hThread);
    if (ownWriteEnd) ownWriteEnd->reset();
    const DWORD started = GetTickCount();
    bool ended = false;
    for (;;) {
      if (readEnd) drainPipe(readEnd, *kept);
      const DWORD elapsed = GetTickCount() - started;
      if (elapsed >= limitMs) break;
      const DWORD step = readEnd ? 20 : limitMs - elapsed;
      if (WaitForSingleObject(pi.hProcess, step < limitMs - elapsed ? step : limitMs - elapsed) != WAIT_TIMEOUT) {
        ended = true;
        break;
      }
    }
    if (readEnd) drainPipe(readEnd, *kept);
    if (!ended) {
      if (log) log->error(L"Process did not end within " + std::to_wstring(limitMs) + L" ms, ending it: " + commandLine);
      TerminateProcess(pi.hProcess, static_cast<UINT>(-1));
      WaitForSingleObject(pi.hProcess, 5000);
      exitCode = kStillRunning;
    } else {
      if (log) {
        log->info(L"End waiting process :");
        log->info(commandLine);
      }
      DWORD code = 0;
      if (!GetExitCodeProcess(pi.hProcess, &code)) {
        exitCode = kNoExitCode;
      } else if (code == STILL_ACTIVE) {
        TerminateProcess(pi.hProcess, static_cast<UINT>(-1));
        exitCode = kStillRunning;
      } else {
        exitCode = static_cast<int>(code);
      }
    }
  }
  if (exitCode != 0 && log) log->info(L"Exit code is " + std::to_wstring(exitCode));
  return exitCode;
}

}  // namespace

int executeAndWait(bool hidden, Log* log, const std::wstring& commandLine, HANDLE stdIn, HANDLE stdOut,
                   unsigned long limitMs) {
  return run(hidden, log, commandLine, stdIn, stdOut, limitMs, nullptr, nullptr, nullptr);
}

int executeAndCapture(Log* log, const std::wstring& commandLine, std::string& output, unsigned long limitMs) {
  output.clear();
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return kNotStarted;
  files::UniqueHandle reader(readEnd), writer(writeEnd);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);  // only the child's end is handed down
  std::string kept;
  int code = run(true, log, commandLine, nullptr, writeEnd, limitMs, &writer, readEnd, &kept);
  if (code == 0) output = kept;
  return code;
}

DWORD findProcess(const std::wstring& exeName) {
  files::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  if (!Process32FirstW(snapshot.get(), &entry)) return 0;
  do {
    if (exeName == entry.szExeFile) return entry.th32ProcessID;
  } while (Process32NextW(snapshot.get(), &entry));
  return 0;
}

}  // namespace processes
