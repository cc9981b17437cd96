#pragma once
#include <string>

namespace sysinfo {
int osMajorVersion();
// "%d.%d.%d": major, minor, build of the running system.
std::wstring osVersionText();
// The Windows user name in the ANSI code page (at most 127 bytes); empty on failure.
std::string userNameAnsi();
// The user's default UI language id (e.g. 0x0419).
int userDefaultLanguage();
}  // namespace sysinfo
