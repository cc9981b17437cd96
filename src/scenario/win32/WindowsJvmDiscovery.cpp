#include "scenario/win32/WindowsJvmDiscovery.h"

#include <windows.h>

#include <vector>

#include "app/Log.h"
#include "app/win32/Files.h"
#include "app/win32/Processes.h"
#include "app/win32/Registry.h"
#include "scenario/JavaVersion.h"
#include "scenario/win32/RuntimeDownloads.h"

namespace {

constexpr size_t kSubKeyChars = 260;
constexpr int kVersionReportChars = 255;

std::wstring fromAnsi(const std::string& bytes) {
  if (bytes.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &out[0], n);
  return out;
}

}  // namespace

std::vector<JVMInfo> WindowsJvmDiscovery::registryRuntimes() {
  std::vector<JVMInfo> runtimes;
  addRegistered(L"SOFTWARE\\JavaSoft\\Java Development Kit", kJdkBundle, runtimes);
  addRegistered(L"SOFTWARE\\JavaSoft\\Java Runtime Environment", kJreBundle, runtimes);
  addRegistered(L"SOFTWARE\\Wow6432Node\\JavaSoft\\Java Development Kit", kJdkBundle, runtimes);
  addRegistered(L"SOFTWARE\\Wow6432Node\\JavaSoft\\Java Runtime Environment", kJreBundle, runtimes);
  return runtimes;
}

void WindowsJvmDiscovery::addRegistered(const wchar_t* key, const wchar_t* bundle, std::vector<JVMInfo>& runtimes) {
  registry::RegKey root = registry::RegKey::openRead(HKEY_LOCAL_MACHINE, key);
  if (!root) return;
  for (DWORD index = 0;; ++index) {
    wchar_t name[kSubKeyChars + 1] = {};
    DWORD nameChars = kSubKeyChars + 1;
    LONG status = RegEnumKeyExW(root.get(), index, name, &nameChars, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_MORE_DATA) continue;  // longer than any version text
    if (status != ERROR_SUCCESS) break;
    std::wstring subKey(name, nameChars);
    if (log_) log_->info(L"fullKeyPath=" + std::wstring(key) + L"\\" + subKey);
    registry::RegKey entry = registry::RegKey::openRead(root.get(), subKey);
    std::wstring home = entry ? registry::readText(entry.get(), L"JavaHome") : std::wstring();
    if (home.empty()) continue;
    JVMInfo jvm;
    jvm.m_javaBundle = bundle;
    jvm.m_javaHomePath = home;
    jvm.m_version = subKey;
    runtimes.push_back(jvm);
  }
}

bool WindowsJvmDiscovery::privateRuntime(const std::wstring& location, JVMInfo& runtime) {
  std::wstring home = location + L"\\jre";
  if (!files::isFile(home + L"\\bin\\client\\jvm.dll")) return false;
  if (log_) {
    log_->info(L"Local Java is found, check version...");
    log_->info(home);
  }
  // A runtime reports its version on standard error; the capture joins both
  // streams.
  std::string report;
  processes::executeAndCapture(log_, L"\"" + home + L"\\bin\\java.exe\" -version", report);
  if (report.size() > kVersionReportChars) report.resize(kVersionReportChars);
  std::wstring reportText = fromAnsi(report);
  if (log_) log_->info(reportText);
  JavaVersion version = parseJavaVersion(versionFromReport(reportText));
  if (log_) log_->info(version.text);
  RuntimeParameters params(defaultRuntimePackUrl());
  fetchRuntimeParameters(params, log_);
  if (log_) log_->info(L"Local Java is good, use it");
  runtime = JVMInfo();
  runtime.m_javaBundle = kPrivateBundle;
  runtime.m_javaHomePath = home;
  runtime.m_version = version.text;
  return true;
}

bool WindowsJvmDiscovery::isFile(const std::wstring& path) { return files::isFile(path); }

bool WindowsJvmDiscovery::readFile(const std::wstring& path, std::string& bytes) {
  std::vector<char> content;
  if (!files::readWholeFile(path, content)) return false;
  bytes.assign(content.begin(), content.end());
  return true;
}

int WindowsJvmDiscovery::runArchitectureProbe(const std::wstring& javaHome, const std::wstring& archivePath) {
  return processes::executeAndWait(true, log_, L"\"" + javaHome + L"\\bin\\javaw.exe\" -classpath \"" + archivePath +
                                                   L"\" ru.dravimol.core.JavaArch",
                                   nullptr, nullptr, processes::kProbeLimitMs);
}
