#pragma once
// Resources embedded in the program's own module.
#include <string>

class Log;

namespace resources {

// The bytes of resource id of the given type; false when it is missing.
bool load(int id, const wchar_t* type, const void*& data, size_t& size);

// Writes the resource to target (replacing any old file), with the log lines
// "extract resource file", "Resource file not found", "Can't create file".
bool extractResource(int id, const wchar_t* type, const std::wstring& target, Log* log);

}  // namespace resources
