#pragma once
// Resources embedded in the program's own module.
#include <string>

class Log;

namespace resources {

// The stored bytes of resource id of the given type; false when it is
// missing. Text resources ("i18n", "lic") are stored packed: read them with
// read().
bool load(int id, const wchar_t* type, const void*& data, size_t& size);

// The resource's own bytes, inflated when its type is stored packed; false
// when it is missing or does not inflate.
bool read(int id, const wchar_t* type, std::string& bytes);

// Writes the resource's own bytes to target (replacing any old file), with the log lines
// "extract resource file", "Resource file not found", "Can't create file".
bool extractResource(int id, const wchar_t* type, const std::wstring& target, Log* log);

}  // namespace resources
