#pragma once
// The installed product's footprint in the shell: the start-up entry, the
// file types and URL protocol, the shortcuts. The registry tables live here so
// the context reads as a list of steps.
//
// None of this is needed for the product to run, so every write stands alone
// and a failed one is not reported. Call from the thread that finishes the
// install (the main thread); the shortcut calls need COM initialised there.
#include <windows.h>

#include <string>

class Log;

namespace registration {

// The user's start-up key and the value that starts the product minimised.
extern const wchar_t kRunKey[];
extern const wchar_t kRunValue[];

// "<folder>\Vexa.exe /MINIMIZED". The program path is quoted only when it
// holds a blank (a folder without an 8.3 form): unquoted, the shell would
// try to start "C:\Program" first.
std::wstring startupCommand(const std::wstring& installFolder);
// Writes the Run value, or removes it (a missing key or value is fine).
void setStartWithWindows(bool enabled, const std::wstring& installFolder);

// The shell's open verb for the program: both the program and %1 quoted.
std::wstring openCommand(const std::wstring& programPath);
// The "Vexa" ProgID (open command, icon, URL protocol) is always written; the
// .torrent and .vexa types and the MIME entry only when associateTorrent.
// Rows that cannot be written under classesRoot fall back to the user's own
// classes ("Software\Classes" under HKEY_CURRENT_USER) where that makes sense;
// classesRoot is HKEY_CLASSES_ROOT except in tests of that fallback.
void associateFileTypes(const std::wstring& installFolder, bool associateTorrent, Log* log,
                        HKEY classesRoot = HKEY_CLASSES_ROOT);
// Makes Explorer reread the associations (icons, verbs) without a log-off.
void notifyAssociationsChanged();

// Desktop and Start-menu links named "Vexa.lnk" to the program.
void createShortcuts(const std::wstring& programPath, const std::wstring& workingFolder);
// The links createShortcuts saves.
std::wstring desktopShortcutPath();
std::wstring startMenuShortcutPath();

// Tells whoever watches that the shortcuts will have no working folder.
void warnUnknownDownloadFolder();

}  // namespace registration
