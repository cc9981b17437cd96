#pragma once
// The result document of an install: what a deployment tool reads after an
// unattended run instead of guessing from the exit code alone. Built as
// UTF-8 JSON; portable.
#include <map>
#include <string>
#include <vector>

#include "context/DownloadTally.h"

struct InstallResult {
  int exitCode = -1;
  int installMode = 0;
  std::wstring installFolder;
  std::wstring version;
  // Timer name -> milliseconds as decimal text (the timing table's report).
  std::map<std::wstring, std::wstring> timings;
  // ";"-terminated tokens, as the error list collects them.
  std::wstring errors;
  std::vector<DownloadTally::Record> downloads;
  // Why the install failed: a token of the closed set of InstallFailure.h
  // and the sentence the person saw; both empty when nothing failed.
  std::string cause;
  std::wstring causeText;
  // A "/layout" run: it installs nothing, and its meaning says what it wrote.
  bool layout = false;
};

// A short English sentence for an exit code; "unknown" for codes the
// installer does not give.
const char* exitCodeMeaning(int exitCode);
// The same for a "/layout" run: "layout written" (0), "layout incomplete".
const char* layoutMeaning(int exitCode);
// "fresh", "reinstall", "alreadyInstalled" or "unknown".
const char* installModeName(int installMode);
// The error list cut at its ";" terminators; empty tokens are dropped and an
// unterminated tail is kept.
std::vector<std::wstring> splitErrorTokens(const std::wstring& errors);
// The error list as the result file shows it: the tokens, and apart from
// them the install folder's listing that a failed install appends ("PFL:"
// name ";" ... "PFL_end;"), without "." and "..".
struct ErrorList {
  std::vector<std::wstring> tokens;
  std::vector<std::wstring> filesPresent;
};
ErrorList readErrorList(const std::wstring& errors);
// The whole document, UTF-8 (any lone surrogate half becomes U+FFFD), ending
// with a newline.
std::string installResultJson(const InstallResult& result);
