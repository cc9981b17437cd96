#pragma once
// The scenario's gate between a downloaded pack and its unpacking: fetches
// the pack's detached signature and lets the verifier judge it.
//
// Threading: called on the worker thread (product and appdata packs) and on
// the runtime thread (runtime pack); it keeps no state of its own.
#include <string>

#include "download/Timing.h"

class Log;
namespace download {
class IDownloadListener;
}
namespace pack_signature {
class PackVerifier;
}

constexpr int kSignatureTimeoutMs = 30000;

// True when the pack may be unpacked: always without a configured key.
// A refused pack is deleted and goes the road of a failed download:
// listener->onFailed(name, id, "signature") and an ERROR line with the reason.
bool acceptPackSignature(const pack_signature::PackVerifier& verifier, const std::wstring& name, int id,
                         const std::wstring& packUrl, const std::wstring& packPath,
                         download::IDownloadListener* listener, Log* log,
                         const download::Timing& timing = download::Timing());
