#pragma once
// The stand-ins' only output: one UTF-8 line per call, appended to a log
// file beside the program, so a test can read what the installer asked.
#include <string>

std::wstring moduleFolder();
void appendCallLine(const std::wstring& logName, const std::wstring& line);
// The same, to a file given by its full path.
void appendCallLineTo(const std::wstring& path, const std::wstring& line);
