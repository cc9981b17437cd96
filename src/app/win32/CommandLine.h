#pragma once
#include <string>
#include <vector>

#include "app/OptionTable.h"

namespace commandline {
// Copies the command line into the fixed buffer, splits it with the system's
// splitter and pairs the tokens, skipping the program's own short path.
OptionTable parse(const std::wstring& commandLine);
std::vector<std::wstring> split(const std::wstring& commandLine);
}  // namespace commandline
