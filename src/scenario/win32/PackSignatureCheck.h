#pragma once
// The scenario's gate between a downloaded pack and its unpacking: opens the
// pack once, holding it so nobody can change or delete it, fetches its ".sig"
// file and lets the verifier judge the bytes read through that same handle.
// The caller unpacks from the handle it gets back, so what was verified is
// what is unpacked.
//
// Threading: called on the worker thread (product and appdata packs) and on
// the runtime thread (runtime pack); it keeps no state of its own.
#include <memory>
#include <string>

#include "download/Timing.h"

class Log;
namespace download {
class IDownloadListener;
}
namespace pack_signature {
class PackVerifier;
}
namespace packfiles {
class PackFile;
}

constexpr int kSignatureTimeoutMs = 30000;

// The pack held open and rewound to its first byte, ready to unpack; null
// when it must not be unpacked. Without a configured key nothing is fetched
// and every pack that opens is given back. A pack that does not open is
// logged (ERROR) and left where it is. A refused pack is closed and deleted
// with its download state, and goes the road of a failed download:
// listener->onFailed(name, id, "signature") and an ERROR line with the reason.
std::shared_ptr<packfiles::PackFile> holdVerifiedPack(const pack_signature::PackVerifier& verifier,
                                                      const std::wstring& name, const char* kind, int id,
                                                      const std::wstring& packUrl, const std::wstring& packPath,
                                                      download::IDownloadListener* listener, Log* log,
                                                      const download::Timing& timing = download::Timing());

// The road of a refused pack: logs ERROR "Pack <url> refused: <reason>",
// deletes the pack and its download state so no later run picks them up, and
// reports listener->onFailed(name, id, "signature").
void refusePack(const std::wstring& name, int id, const std::wstring& packUrl, const std::wstring& packPath,
                const std::wstring& reason, download::IDownloadListener* listener, Log* log);
