#pragma once
// Texts the install context derives from its inputs.
#include <string>
#include <vector>

namespace contexttext {

// prefix + build date + "_" + build time, every blank and colon after the
// first character replaced by "_": ("vw", "Oct  1 2020", "11:45:38") gives
// "vwOct__1_2020_11_45_38".
std::wstring versionText(const std::wstring& prefix, const char* buildDate, const char* buildTime);

// The text between the last pair of square brackets of a setup file's path
// ending in ".exe"; empty when the name has none.
std::wstring installKeyFromFileName(const std::wstring& modulePath);

// The parameters of the elevated copy: "/secondInstance" first, where no
// quoting of what follows can swallow it, then the tokens as this process
// parsed them, each quoted so the copy's splitter gives it back unchanged.
// The copy is started through its short path, whose 8.3 name has lost the
// brackets, so a key taken from the file name (keyOnCommandLine false) is
// handed over as "/installKey".
std::wstring relaunchParameters(const std::vector<std::wstring>& tokens, bool keyOnCommandLine,
                                const std::wstring& key);

// Why a folder named on the command line cannot hold the install, in plain
// words; empty when its form is usable: a full path ("C:\\..." or a UNC
// "\\\\server\\share\\..."), shorter than maxLength characters without its
// trailing separators, and free of the characters Windows refuses in names.
std::wstring switchFolderProblem(const std::wstring& folder, size_t maxLength);

}  // namespace contexttext
