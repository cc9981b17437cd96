#pragma once
// The result file of "/resultFile <path>": written once at the end of an
// install, for deployment tools that run the installer unattended.
//
// Threading: the main thread, after the install's road has ended.
#include <string>

#include "context/InstallFailure.h"

class InstallContext;
class Log;
class OptionTable;

namespace resultfile {

// Writes bytes to path through a temporary file in the same folder that then
// replaces path, so a reader sees the old document or the whole new one,
// never a part. False when any step fails (the temporary file is removed);
// error receives GetLastError's value.
bool replaceAtomically(const std::wstring& path, const std::string& bytes, unsigned long& error);

// Writes the document when "/resultFile" names a path. Failures are logged
// and leave the exit code alone: the install's outcome does not depend on
// the report about it.
void writeIfAsked(InstallContext& context);

// The same for a run refused before any install began (another installer
// holds the lock): its exit code and why, nothing else known.
void writeRefusalIfAsked(const OptionTable& options, int exitCode, const failure::Failure& why, Log* log);

}  // namespace resultfile
