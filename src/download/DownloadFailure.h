#pragma once
// Why a download failed, in terms a caller can act on: try another host, try
// again later, fetch the file whole again, or tell the person what is wrong
// with their disk. Filled in by the download's own thread; read by the owner
// after the download ended (DownloadResult hands it over under a lock).
#include <string>

namespace download {

enum class FailureCause {
  kNone,       // the download succeeded (or has not ended)
  kNetwork,    // no connection to the host, or it broke off and every attempt failed
  kServer,     // the server answered with a status that is not the content (after retries for 5xx)
  kStalled,    // no byte arrived for the downloader's time-out
  kDamaged,    // the whole content arrived but its length or MD5 is wrong (also after a fresh second try)
  kOutput,     // the bytes could not be written (file refused, disk full, output too small)
  kCancelled,  // the owner aborted the download
};

enum class Damage { kNone, kLength, kMd5 };

struct DownloadFailure {
  FailureCause cause = FailureCause::kNone;
  // kNetwork, kStalled: the host that could not be reached or went quiet.
  std::wstring host;
  // kServer: the status of the last answer (a refused redirect gives its 3xx).
  int status = 0;
  // kDamaged: which check failed.
  Damage damage = Damage::kNone;
  // Whether the bytes fetched so far are sound as far as they go, and stay
  // with the output for a resume: true after a network, server or stall
  // failure; false once they proved wrong or could not be written.
  bool bytesKept = false;
  // A short English description for log lines ("HTTP status 503", ...).
  std::wstring text;

  bool failed() const { return cause != FailureCause::kNone; }
};

// The cause as one lower-case token: "none", "network", "server", "stalled",
// "damaged", "output", "cancelled".
const wchar_t* causeToken(FailureCause cause);

}  // namespace download
