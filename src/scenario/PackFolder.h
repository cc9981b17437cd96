#pragma once
// A folder of packs written once by "/layout" and installed from on many
// machines ("/source", or a folder "VexaSetup.packs" beside the program).
// Its manifest names each file with its length, MD5 and the address it came
// from. An install reads the folder's files through a connection of their
// own, as if the folder were the first host of each pack: a file the
// manifest does not vouch for answers 404, one whose bytes do not match
// fails the download's MD5 check, and either way the pack's other hosts
// follow, as for a failed host.
//
// Threading: a manifest is read once and then only read; connections are
// used by one thread each, as any connection.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "download/Connection.h"

namespace packfolder {

constexpr const wchar_t* kManifestName = L"manifest.json";
constexpr const wchar_t* kBesideProgram = L"VexaSetup.packs";

struct Entry {
  std::wstring name;  // the download's name ("vexa8z"; "vexa8z_sig" for its signature)
  std::wstring file;  // the file's name in the folder
  long long length = -1;
  std::wstring md5;     // 32 lower-case hex digits
  std::wstring source;  // the address it was fetched from
};

struct Manifest {
  std::vector<Entry> entries;
  // The entry of a file name (compared without regard to ASCII case, as the
  // file system does); null when the manifest has none.
  const Entry* find(const std::wstring& file) const;
};

// The manifest as written: a JSON object {"layout": 1, "files": [...]}.
std::wstring manifestText(const Manifest& manifest);
// Reads the text; false for anything that is not such a manifest. Entries
// without a plain file name, a length or a 32-digit MD5 are left out.
bool parseManifest(const std::wstring& text, Manifest* manifest);

// Whether an address names a file in a folder rather than a web address.
bool isFolderAddress(const std::wstring& address);
// The file of a pack address in a folder: "<folder>\<last path part>".
std::wstring inFolder(const std::wstring& folder, const std::wstring& url);

// Network connections for web addresses; for folder addresses, connections
// that read the file and answer as a server that sends the manifest's MD5.
download::ConnectionFactory withFolders(download::ConnectionFactory network,
                                        std::shared_ptr<const Manifest> manifest);

}  // namespace packfolder
