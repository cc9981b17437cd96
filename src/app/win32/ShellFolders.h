#pragma once
// The user's known folders, drives and shell links.
#include <cstdint>
#include <string>

namespace shellfolders {
std::wstring roamingAppData();
std::wstring desktop();
std::wstring startMenu();
std::wstring programFiles();
// "Personal" under the user's Shell Folders key; empty when missing.
std::wstring documents();
// Among fixed drives the one with the most free bytes for the user (first of
// equals); root and free MiB. False when there is no fixed drive.
bool largestFixedDrive(std::wstring& root, uint64_t& freeMiB);
// Saves a shell link; false on any failure.
bool createShortcut(const std::wstring& linkFile, const std::wstring& target, const std::wstring& arguments,
                    const std::wstring& workingFolder, const std::wstring& description);
}  // namespace shellfolders
