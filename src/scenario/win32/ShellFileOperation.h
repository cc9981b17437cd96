#pragma once
// The shell's file operation (recursive delete, wildcard copy), the one
// place the commands call it. Stateless; any thread.
#include <string>

namespace shellfiles {

// Each returns the operation's own return code, 0 on success; an aborted
// operation returns 0 from the shell but counts here as ERROR_CANCELLED (1223).
int deletePath(const std::wstring& path, unsigned flags);
int copyPaths(const std::wstring& source, const std::wstring& destination, unsigned flags);

}  // namespace shellfiles
