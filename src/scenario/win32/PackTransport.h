#pragma once
// The transport of the scenario's pack downloads (packs, their signatures,
// the runtime pack): WinINet for web addresses and, once an install takes its
// packs from a folder, that folder's files for folder addresses.
//
// Threading: usePackFolder is called once by the worker before any pack
// download starts; packConnections may then be called on any thread.
#include <memory>
#include <string>

#include "download/Connection.h"
#include "scenario/PackFolder.h"

class Log;

namespace packtransport {

download::ConnectionFactory packConnections();

// From now on folder addresses read files this manifest vouches for.
void usePackFolder(const std::wstring& folder, std::shared_ptr<const packfolder::Manifest> manifest);

// The folder in use and the file in it that holds the download called
// name; empty when there is none.
std::wstring folderFileFor(const std::wstring& name);

// Reads <folder>\manifest.json; null (with an ERROR line) when it is missing
// or unreadable.
std::shared_ptr<const packfolder::Manifest> readFolderManifest(const std::wstring& folder, Log* log);

}  // namespace packtransport
