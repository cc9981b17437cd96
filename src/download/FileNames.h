#pragma once
// Rules for file names that come from outside (a server's Content-Disposition
// or address, the entry names of a pack): such a name may only ever name a
// plain file or folder inside the folder the caller gave. The download outputs
// and the pack reader share this one check.
#include <string>

namespace download {

// The part after the last '/' or '\', so that "..\..\x.exe" cannot climb out
// of the caller's folder.
std::wstring lastPathComponent(const std::wstring& name);

// False for names Windows would not keep as a plain file in a folder: empty
// ones, those made of dots and blanks only, control characters, any of
// <>:"/\|?* (':' would open a drive or a stream), and device names such as
// CON, NUL, COM1 or LPT9, which Windows opens as devices in any folder and
// with any extension ("nul.txt", "CON .exe").
bool isSafeFileName(const std::wstring& name);

}  // namespace download
