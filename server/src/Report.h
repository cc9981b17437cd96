#pragma once
// The install funnel out of the stored events: starts, finishes, fails,
// cancels and restarts by version and by day, the most frequent failure
// causes (the error tokens of failed installs) and error tokens. Rendered as
// plain text (command line) or as an HTML page with charts drawn here as
// inline SVG (no script, nothing fetched from elsewhere).
#include <string>
#include <utility>
#include <vector>

class EventStore;

struct FunnelRow {
  std::string label;  // version or day
  long starts = 0, finishes = 0, fails = 0, cancels = 0, restarts = 0, other = 0;
};

struct FunnelReport {
  long events = 0;
  std::vector<FunnelRow> byVersion;
  std::vector<FunnelRow> byDay;
  std::vector<std::pair<std::string, long>> topErrors;  // most frequent first
  std::vector<std::pair<std::string, long>> topFailureCauses;  // tokens of failed installs, most frequent first

  static FunnelReport compute(EventStore& store, size_t maxErrors = 10);
  std::string text() const;
  // extraSections go at the end of the page body.
  std::string html(const std::string& extraSections = std::string()) const;
};

// A grouped bar chart of the funnel, one group per row (day or version),
// one bar per stage, with a legend.
std::string funnelChart(const std::string& title, const std::vector<FunnelRow>& rows);

// Text made safe for an HTML page (element content and attribute values).
std::string escapeHtml(const std::string& s);

// The ";"-terminated tokens of an error text; an unterminated tail counts too.
std::vector<std::string> errorTokens(const std::string& errors);
