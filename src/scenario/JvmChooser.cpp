#include "scenario/JvmChooser.h"

#include <utility>

#include "app/Log.h"
#include "scenario/JavaVersion.h"

std::wstring JVMInfo::description() const {
  return L"m_jvmPath=" + m_jvmPath + L",m_javaBundle=" + m_javaBundle + L",m_binJvmDir=" + m_binJvmDir +
         L",m_comparableVersion=" + m_comparableVersion + L",m_javaHomePath=" + m_javaHomePath +
         L",m_version=" + m_version + L",m_jrePath=" + m_jrePath +
         L",m_acceptable=" + (m_acceptable ? L"true" : L"false");
}

JVMChooser::JVMChooser(Log* log, JvmDiscovery& discovery, std::wstring utilsJarPath)
    : log_(log), discovery_(discovery), utilsJarPath_(std::move(utilsJarPath)) {}

void JVMChooser::info(const std::wstring& line) {
  if (log_) log_->info(line);
}

void JVMChooser::error(const std::wstring& line) {
  if (log_) log_->error(line);
}

bool JVMChooser::choose(const std::wstring& privateLocation, JVMProperties& properties) {
  properties = JVMProperties();
  // The launcher could be configured with a runtime of its own; the
  // installer never configures one.
  info(L"getJvmFromCustomJvmPath");
  info(L"getJvmFromCustomJavaHomePath");

  info(L"getAllJVMs");
  std::vector<JVMInfo> jvms;
  if (privateLocation.empty()) {
    jvms = discovery_.registryRuntimes();
  } else {
    JVMInfo local;
    if (discovery_.privateRuntime(privateLocation, local)) jvms.push_back(local);
  }
  info(L"addJVMToAllList");

  info(L"removeCopyBinJvmDirs");
  removeCopyBinJvmDirs(jvms);
  info(L"breakoutBinJvmDirs");
  breakoutBinJvmDirs(jvms);

  info(L"determineVersions");
  for (JVMInfo& jvm : jvms) {
    jvm.m_comparableVersion = comparableVersion(jvm.m_version);
    if (jvm.m_comparableVersion.empty()) jvm.m_acceptable = false;
  }
  info(L"removeUnacceptableJVMs");
  std::vector<JVMInfo> acceptable;
  for (JVMInfo& jvm : jvms) {
    if (jvm.m_acceptable) {
      acceptable.push_back(std::move(jvm));
    } else {
      info(L"Remove:" + jvm.description());
    }
  }
  properties.candidates = acceptable;
  if (acceptable.empty()) {
    error(L"No acceptable JVMs were found.");
    return false;
  }
  size_t best = 0;
  for (size_t i = 1; i < acceptable.size(); ++i) {
    // Strictly greater: among equals the earliest stays.
    if (acceptable[i].m_comparableVersion.compare(acceptable[best].m_comparableVersion) > 0) best = i;
  }
  properties.chosen = true;
  properties.choice = acceptable[best];
  return true;
}

void JVMChooser::removeCopyBinJvmDirs(std::vector<JVMInfo>& jvms) {
  // From the last to the first, so the first registration of a home stays.
  for (size_t i = jvms.size(); i-- > 0;) {
    bool seenEarlier = false;
    for (size_t j = 0; j < i; ++j) {
      if (jvms[j].m_javaHomePath == jvms[i].m_javaHomePath) {
        seenEarlier = true;
        break;
      }
    }
    if (seenEarlier) {
      info(L"RemoveCopy:" + jvms[i].description());
      jvms.erase(jvms.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
}

void JVMChooser::breakoutBinJvmDirs(std::vector<JVMInfo>& jvms) {
  for (size_t i = jvms.size(); i-- > 0;) {
    JVMInfo& jvm = jvms[i];
    bool passes = true;
    if (isOlderThanOldestAccepted(jvm.m_version)) {
      error(jvm.m_version);
      error(L"Java is old");
      passes = false;
    } else {
      passes = passesArchitectureTest(jvm);
    }

    std::vector<JVMInfo> split;
    if (passes) {
      // A JDK keeps its runtime in "jre"; a JRE is its own.
      std::wstring jre = jvm.m_javaHomePath;
      if (discovery_.isFile(jvm.m_javaHomePath + L"\\jre\\bin\\java.exe") ||
          discovery_.isFile(jvm.m_javaHomePath + L"\\jre\\bin\\javaw.exe")) {
        jre = jvm.m_javaHomePath + L"\\jre";
      }
      for (const wchar_t* kind : {L"client", L"server"}) {
        std::wstring dir = jre + L"\\bin\\" + kind;
        if (!discovery_.isFile(dir + L"\\jvm.dll")) continue;
        JVMInfo one = jvm;
        one.m_jrePath = jre;
        one.m_binJvmDir = dir;
        one.m_jvmPath = dir + L"\\jvm.dll";
        one.m_acceptable = true;
        split.push_back(std::move(one));
      }
    }
    if (split.empty()) {
      info(L"Remove:" + jvm.description());
      jvms.erase(jvms.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      jvms.erase(jvms.begin() + static_cast<std::ptrdiff_t>(i));
      jvms.insert(jvms.begin() + static_cast<std::ptrdiff_t>(i), split.begin(), split.end());
    }
  }
}

bool JVMChooser::passesArchitectureTest(const JVMInfo& jvm) {
  if (!discovery_.isFile(utilsJarPath_)) {
    info(utilsJarPath_ + L" not found");
    return true;
  }
  std::string archive;
  if (!discovery_.readFile(utilsJarPath_, archive) || archive.find(kArchClassEntry) == std::string::npos) {
    error(L"JavaArch.class NOT FOUND");
    return true;
  }
  info(L"JavaArch.class found");
  return discovery_.runArchitectureProbe(jvm.m_javaHomePath, utilsJarPath_) == kThirtyTwoBitExitCode;
}
