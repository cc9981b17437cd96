#pragma once
// Whether the browser-engine plug-in of earlier product versions must move
// from the data folder to the install folder: only when the product is newer
// than 1031, the data folder's path holds characters outside printable
// ASCII, the plug-in's properties are there and the install folder's path is
// plain. Portable; the file sizes come from the caller.
#include <cstdint>
#include <functional>
#include <string>

class Log;

// What the check found, reported with the statistics as one number.
struct MoveCheckFlags {
  bool dataPathTested = false;    // 8: the data folder's path needs the move
  bool propertiesFound = false;   // 4: the plug-in's properties are there
  bool appPathGood = false;       // 2: the install folder's path is not plain either
  int value() const { return (dataPathTested ? 8 : 0) + (propertiesFound ? 4 : 0) + (appPathGood ? 2 : 0); }
};

constexpr int kLastVersionWithoutMove = 1031;

// productVersion: the exit code of the product's version class. fileSize
// gives 0 for a missing file. Logs each decision with "isNeedMoveXul: ".
bool isNeedMoveXul(int productVersion, const std::wstring& dataFolder, const std::wstring& installFolder,
                   const std::function<uint64_t(const std::wstring&)>& fileSize, MoveCheckFlags& flags, Log* log);
