#include "context/InstallResult.h"


#include "app/Text.h"
#include "formats/Json.h"

namespace {

std::string quoted(const std::wstring& s) { return text::wideToUtf8(jsonStringText(s)); }

// Timer values are decimal text; anything else (never expected) stays text
// rather than producing a document that does not parse.
std::string number(const std::wstring& s) {
  if (s.empty() || s.size() > 18) return quoted(s);
  for (wchar_t c : s) {
    if (c < L'0' || c > L'9') return quoted(s);
  }
  return text::wideToUtf8(s);
}

}  // namespace

const char* exitCodeMeaning(int exitCode) {
  switch (exitCode) {
    case 0: return "installed";
    case 1: return "the product was already installed";
    case 3: return "the installation failed: the product's files are missing";
    case 10: return "another installer is running";
    case -1: return "the installation did not reach its end";
    default: return "unknown";
  }
}

const char* installModeName(int installMode) {
  switch (installMode) {
    case 0: return "fresh";
    case 1: return "reinstall";
    case 2: return "alreadyInstalled";
    default: return "unknown";
  }
}

std::vector<std::wstring> splitErrorTokens(const std::wstring& errors) {
  std::vector<std::wstring> out;
  size_t from = 0;
  while (from < errors.size()) {
    size_t end = errors.find(L';', from);
    if (end == std::wstring::npos) end = errors.size();
    if (end > from) out.push_back(errors.substr(from, end - from));
    from = end + 1;
  }
  return out;
}

std::string installResultJson(const InstallResult& r) {
  std::string out = "{\n";
  out += "  \"exitCode\": " + std::to_string(r.exitCode) + ",\n";
  out += "  \"meaning\": " + quoted(text::utf8ToWide(exitCodeMeaning(r.exitCode))) + ",\n";
  out += "  \"installMode\": " + quoted(text::utf8ToWide(installModeName(r.installMode))) + ",\n";
  out += "  \"installFolder\": " + quoted(r.installFolder) + ",\n";
  out += "  \"version\": " + quoted(r.version) + ",\n";

  out += "  \"stagesMs\": {";
  bool first = true;
  for (const auto& [name, ms] : r.timings) {
    out += first ? "" : ",";
    first = false;
    out += "\n    " + quoted(name) + ": " + number(ms);
  }
  out += first ? "},\n" : "\n  },\n";

  out += "  \"errors\": [";
  first = true;
  for (const std::wstring& token : splitErrorTokens(r.errors)) {
    out += first ? "" : ", ";
    first = false;
    out += quoted(token);
  }
  out += "],\n";

  out += "  \"downloads\": [";
  first = true;
  for (const DownloadTally::Record& d : r.downloads) {
    out += first ? "" : ",";
    first = false;
    out += "\n    {\"name\": " + quoted(d.name) + ", \"completed\": " + (d.completed ? "true" : "false") +
           ", \"bytes\": " + std::to_string(d.bytes) + ", \"resumedBytes\": " + std::to_string(d.resumedBytes) +
           ", \"ms\": " + std::to_string(d.ms) +
           ", \"bytesPerSecond\": " + std::to_string(d.rate) + "}";
  }
  out += first ? "]\n" : "\n  ]\n";
  out += "}\n";
  return out;
}
