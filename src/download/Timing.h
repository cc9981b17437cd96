#pragma once
// Pauses and time-outs of the downloader. Members default to the product's
// values; only tests shorten them.
#include <atomic>
#include <memory>

namespace download {

struct Timing {
  int connectTimeoutMs = 5000;
  int receiveTimeoutMs = 5000;
  // Pause after a failed attempt to open a request, when attempts are left.
  int connectRetryPauseMs = 3000;
  // Pause before a chunk reconnects after a failed read or a short body.
  int retryDelayMs = 5000;
  // A chunk reports progress when more than this has passed since its last report.
  int progressIntervalMs = 500;
  // Longest pause a server's Retry-After may ask for before a 5xx answer is
  // tried again; a shorter or missing one gives the usual connect pause.
  int retryAfterCapMs = 30000;
  // Attempts that bring new bytes do not use up a chunk's attempts, so what
  // ends a download that keeps breaking off is time: it gives up once no
  // byte has arrived for this long (the wait for a pack download).
  int stallLimitMs = 3600000;
  // Set by the owner to end its downloads early: pauses are cut short, no
  // further connection or read is made, and the download fails. Null: never.
  std::shared_ptr<std::atomic<bool>> abort;

  bool aborted() const { return abort && abort->load(); }
};

}  // namespace download
