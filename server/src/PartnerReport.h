#pragma once
// The partner offers out of the stored events, one row per offer
// identifier: how many installs were offered it or skipped it (read from
// the extended mode text the installer reports after reading the
// campaigns: "pinstall: <id>:free  <id>:busyreg <id>:test0"), how many
// "pinstallFinish" events came back, how many of those ran the partner's
// installer, and their exit codes.
#include <map>
#include <set>
#include <string>
#include <vector>

class EventStore;

struct PartnerRow {
  std::string pinstall;
  std::set<std::string> campaigns;  // campaign ids seen in its "pinstallFinish" events
  long offered = 0;                 // installs that read it as free to offer
  long busy = 0;                    // installs that skipped it as recently installed
  long tested = 0;                  // installs whose install test skipped it
  long finishes = 0;                // "pinstallFinish" events
  long attempted = 0;               // of those, the installer was run (an exit code came back)
  std::map<std::string, long> exitCodes;
};

struct PartnerReport {
  std::vector<PartnerRow> rows;  // by offer identifier

  static PartnerReport compute(EventStore& store);
  std::string text() const;
  // A section for the report page (heading and table).
  std::string html() const;
};

// The offers in an extended mode text, with what the installer decided:
// id -> "free", "busyreg" or "test<n>". Empty without "pinstall:".
std::vector<std::pair<std::string, std::string>> offerDecisions(const std::string& modeExtension);
