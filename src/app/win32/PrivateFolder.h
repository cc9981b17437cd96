#pragma once
// Folders only this run may write, and giving files made there back to the
// access of the place they move to. The one place that builds access lists.
#include <windows.h>

#include <string>

namespace files {

// Creates path (its parent must exist) with an access list that lets only
// SYSTEM, the administrators and, when this process is not elevated, its
// own user write; inherited by what is made inside. 0 on success, else the
// system's error code (ERROR_ALREADY_EXISTS when anything is at path).
// Systems or file systems that keep no access lists get a plain folder.
unsigned long createPrivateFolder(const std::wstring& path);

// A file made in a private folder and moved out keeps that folder's list;
// this drops it, so the file takes the list its new folder hands down (a
// data folder lets the user's own programs change their files). False when
// the system refused (the file keeps the private list, which still lets
// SYSTEM and administrators in).
bool inheritAccessFromFolder(const std::wstring& path);

}  // namespace files
