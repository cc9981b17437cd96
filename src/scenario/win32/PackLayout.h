#pragma once
// "/layout <folder>": the product, appdata and runtime packs (and, when the
// build has a key, their ".sig" files) fetched once into a folder that many
// machines then install from ("/source <folder>"). Each pack is checked as an
// install checks it (length and Content-MD5 by the download, the signature
// with a key built in, the stream and its entries unpacked to nowhere), and
// the folder's manifest names every file with its length, MD5 and the address
// it came from. A pack already in the folder from an earlier, broken-off
// layout is carried on from where it stopped.
//
// Threading: runs on the calling (main) thread; the downloads run on threads
// of their own, as in an install.
#include <string>

#include "download/Timing.h"

class VexaInstallContext;
namespace pack_signature {
class PackVerifier;
}

namespace packlayout {

// True when every pack is in the folder, sound, and listed in its manifest.
// Progress, each pack's host and every failure go to the log; the downloads
// go to the context's tally and error list, as an install's do.
bool writeLayout(VexaInstallContext& context, const std::wstring& folder, const pack_signature::PackVerifier& verifier,
                 const download::Timing& timing);

}  // namespace packlayout
