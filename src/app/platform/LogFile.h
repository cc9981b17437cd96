#pragma once
// The platform side of the log: where it lives, the clock, the code page and
// the append itself. One implementation per platform.
#include <string>

#include "app/Log.h"

namespace logfile {
// The user's temporary folder with a trailing separator.
std::wstring tempFolder();
Log::Stamp utcNow();
// Converts to the ANSI code page; empty when the result exceeds maxBytes.
std::string toAnsi(const std::wstring& line, size_t maxBytes);
// Opens (creating) the file, starts it over when it has grown past the limit,
// appends the bytes and closes it. Failures are ignored.
void append(const std::wstring& path, const std::string& bytes);
int lastErrorCode();
void setLastErrorCode(int code);
// The system's message text for an error code (empty when it has none).
std::wstring systemErrorText(int code);
}  // namespace logfile
