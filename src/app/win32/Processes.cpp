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

int executeAndWait(bool hidden, Log* log, const std::wstring& commandLine, HANDLE stdIn, HANDLE stdOut) {
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
    Sleep(200);
    WaitForSingleObject(pi.hProcess, INFINITE);
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
  if (exitCode != 0 && log) log->info(L"Exit code is " + std::to_wstring(exitCode));
  return exitCode;
}

int executeAndCapture(Log* log, const std::wstring& commandLine, std::string& output) {
  output.clear();
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return kNotStarted;
  files::UniqueHandle reader(readEnd), writer(writeEnd);
  int code = executeAndWait(true, log, commandLine, readEnd, writeEnd);
  if (code == 0) {
    // The child has ended and its output waits in the pipe; a single read of
    // at most 256 bytes is all a version probe needs. Closing our write end
    // first keeps the read from blocking when the child wrote nothing.
    writer.reset();
    char buffer[256];
    DWORD n = 0;
    if (ReadFile(readEnd, buffer, sizeof(buffer), &n, nullptr)) output.assign(buffer, n);
  }
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
