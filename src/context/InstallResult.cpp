#include "context/InstallResult.h"

#include <cstdint>

#include "app/Text.h"
#include "formats/Json.h"

namespace {

constexpr wchar_t kReplacementCharacter = 0xFFFD;

bool isHigh(uint32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLow(uint32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Paths and texts from the system can hold surrogate halves without their
// partner (file names are not checked for that); written as they are they
// would make the document invalid UTF-8.
std::wstring wellFormed(const std::wstring& s) {
  std::wstring out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    const uint32_t c = static_cast<uint32_t>(s[i]) & (sizeof(wchar_t) == 2 ? 0xFFFFu : 0xFFFFFFFFu);
    if (isHigh(c) && i + 1 < s.size() && isLow(static_cast<uint32_t>(s[i + 1]) & 0xFFFFu)) {
      if (sizeof(wchar_t) == 2) {
        out += s[i];
        out += s[i + 1];
      } else {
        out += static_cast<wchar_t>(0x10000 + ((c - 0xD800) << 10) + ((static_cast<uint32_t>(s[i + 1]) & 0xFFFFu) - 0xDC00));
      }
      ++i;
    } else {
      out += isHigh(c) || isLow(c) ? kReplacementCharacter : s[i];
    }
  }
  return out;
}

std::string quoted(const std::wstring& s) { return text::wideToUtf8(jsonStringText(wellFormed(s))); }

std::string quotedList(const std::vector<std::wstring>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + quoted(items[i]);
  return out + "]";
}

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
    case 3: return "the installation failed: \"cause\" says why";
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

ErrorList readErrorList(const std::wstring& errors) {
  ErrorList list;
  bool inListing = false;
  for (std::wstring token : splitErrorTokens(errors)) {
    if (!inListing && token.compare(0, 4, L"PFL:") == 0) {
      inListing = true;
      token.erase(0, 4);
      if (token.empty()) continue;
    }
    if (!inListing) {
      list.tokens.push_back(token);
    } else if (token == L"PFL_end") {
      inListing = false;
    } else if (token != L"." && token != L"..") {
      list.filesPresent.push_back(token);
    }
  }
  return list;
}

const char* layoutMeaning(int exitCode) { return exitCode == 0 ? "layout written" : "layout incomplete"; }

std::string installResultJson(const InstallResult& r) {
  std::string out = "{\n";
  out += "  \"exitCode\": " + std::to_string(r.exitCode) + ",\n";
  out += "  \"meaning\": " +
         quoted(text::utf8ToWide(r.layout ? layoutMeaning(r.exitCode) : exitCodeMeaning(r.exitCode))) + ",\n";
  out += "  \"installMode\": " + quoted(text::utf8ToWide(installModeName(r.installMode))) + ",\n";
  out += "  \"installFolder\": " + quoted(r.installFolder) + ",\n";
  out += "  \"version\": " + quoted(r.version) + ",\n";
  out += "  \"cause\": " + quoted(text::utf8ToWide(r.cause)) + ",\n";
  out += "  \"causeText\": " + quoted(r.causeText) + ",\n";

  out += "  \"stagesMs\": {";
  bool first = true;
  for (const auto& [name, ms] : r.timings) {
    out += first ? "" : ",";
    first = false;
    out += "\n    " + quoted(name) + ": " + number(ms);
  }
  out += first ? "},\n" : "\n  },\n";

  const ErrorList errors = readErrorList(r.errors);
  out += "  \"errors\": " + quotedList(errors.tokens) + ",\n";
  out += "  \"filesPresent\": " + quotedList(errors.filesPresent) + ",\n";

  out += "  \"downloads\": [";
  first = true;
  for (const DownloadTally::Record& d : r.downloads) {
    out += first ? "" : ",";
    first = false;
    out += "\n    {\"name\": " + quoted(d.name) + ", \"completed\": " + (d.completed ? "true" : "false") +
           ", \"bytes\": " + std::to_string(d.bytes) + ", \"resumedBytes\": " + std::to_string(d.resumedBytes) +
           ", \"ms\": " + std::to_string(d.ms) +
           ", \"bytesPerSecond\": " + std::to_string(d.rate) + ", \"host\": " + quoted(d.host) + "}";
  }
  out += first ? "]\n" : "\n  ]\n";
  out += "}\n";
  return out;
}
