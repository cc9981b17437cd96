#include "Report.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>

#include "EventStore.h"

namespace {

// Classification by event name; "cancel" (before the scenario started)
// counts with the cancels.
const char kFunnelColumns[] =
    "SUM(mode IN ('installStart','reinstallStart')) AS starts, "
    "SUM(mode IN ('installFinish','reinstallFinish')) AS finishes, "
    "SUM(mode IN ('installFail','reinstallFail')) AS fails, "
    "SUM(mode IN ('installCancel','reinstallCancel','cancel')) AS cancels, "
    "SUM(mode = 'restart') AS restarts, COUNT(*) AS total";

std::vector<FunnelRow> funnelBy(EventStore& store, const std::string& groupExpr) {
  std::vector<FunnelRow> rows;
  for (auto& r : store.query("SELECT " + groupExpr + " AS label, " + kFunnelColumns + " FROM events GROUP BY 1 ORDER BY 1")) {
    FunnelRow row;
    row.label = r["label"];
    row.starts = std::stol(r["starts"]);
    row.finishes = std::stol(r["finishes"]);
    row.fails = std::stol(r["fails"]);
    row.cancels = std::stol(r["cancels"]);
    row.restarts = std::stol(r["restarts"]);
    row.other = std::stol(r["total"]) - row.starts - row.finishes - row.fails - row.cancels - row.restarts;
    rows.push_back(row);
  }
  return rows;
}

void textTable(std::ostringstream& out, const char* title, const std::vector<FunnelRow>& rows) {
  char line[256];
  out << title << "\n";
  std::snprintf(line, sizeof line, "  %-28s %8s %8s %8s %8s %8s %8s\n", "", "starts", "finishes", "fails", "cancels",
                "restarts", "other");
  out << line;
  for (const auto& r : rows) {
    std::snprintf(line, sizeof line, "  %-28s %8ld %8ld %8ld %8ld %8ld %8ld\n",
                  r.label.empty() ? "(none)" : r.label.c_str(), r.starts, r.finishes, r.fails, r.cancels, r.restarts,
                  r.other);
    out << line;
  }
}

void htmlTable(std::ostringstream& out, const char* title, const std::vector<FunnelRow>& rows) {
  out << "<h2>" << title << "</h2>\n<table><tr><th></th><th>starts</th><th>finishes</th><th>fails</th>"
         "<th>cancels</th><th>restarts</th><th>other</th></tr>\n";
  for (const auto& r : rows) {
    out << "<tr><td>" << escapeHtml(r.label.empty() ? "(none)" : r.label) << "</td><td>" << r.starts << "</td><td>"
        << r.finishes << "</td><td>" << r.fails << "</td><td>" << r.cancels << "</td><td>" << r.restarts
        << "</td><td>" << r.other << "</td></tr>\n";
  }
  out << "</table>\n";
}

}  // namespace

std::string escapeHtml(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::vector<std::string> errorTokens(const std::string& errors) {
  std::vector<std::string> tokens;
  size_t start = 0;
  while (start < errors.size()) {
    size_t end = errors.find(';', start);
    if (end == std::string::npos) end = errors.size();
    if (end > start) tokens.push_back(errors.substr(start, end - start));
    start = end + 1;
  }
  return tokens;
}

FunnelReport FunnelReport::compute(EventStore& store, size_t maxErrors) {
  FunnelReport report;
  auto count = store.query("SELECT COUNT(*) AS n FROM events");
  report.events = count.empty() ? 0 : std::stol(count[0]["n"]);
  report.byVersion = funnelBy(store, "version");
  report.byDay = funnelBy(store, "substr(received, 1, 10)");
  std::map<std::string, long> counts;
  for (auto& r : store.query("SELECT errors FROM events WHERE errors <> ''")) {
    for (auto& token : errorTokens(r["errors"])) ++counts[token];
  }
  report.topErrors.assign(counts.begin(), counts.end());
  std::stable_sort(report.topErrors.begin(), report.topErrors.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  if (report.topErrors.size() > maxErrors) report.topErrors.resize(maxErrors);
  return report;
}

std::string FunnelReport::text() const {
  std::ostringstream out;
  out << "events: " << events << "\n";
  textTable(out, "by version:", byVersion);
  textTable(out, "by day:", byDay);
  out << "most frequent errors:\n";
  if (topErrors.empty()) out << "  (none)\n";
  for (const auto& [token, n] : topErrors) out << "  " << n << "  " << token << "\n";
  return out.str();
}

std::string FunnelReport::html(const std::string& extraSections) const {
  FunnelRow total;
  for (const auto& r : byDay) {
    total.starts += r.starts;
    total.finishes += r.finishes;
    total.fails += r.fails;
    total.cancels += r.cancels;
    total.restarts += r.restarts;
  }
  const std::pair<const char*, long> bars[] = {{"starts", total.starts},   {"finishes", total.finishes},
                                               {"fails", total.fails},     {"cancels", total.cancels},
                                               {"restarts", total.restarts}};
  long most = 1;
  for (const auto& b : bars) most = std::max(most, b.second);

  std::ostringstream out;
  out << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Install funnel</title>\n"
         "<style>body{font-family:sans-serif}table{border-collapse:collapse}"
         "td,th{border:1px solid #999;padding:2px 8px;text-align:right}</style></head><body>\n"
      << "<h1>Install funnel</h1>\n<p>" << events << " events</p>\n";
  out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"520\" height=\"" << (sizeof(bars) / sizeof(bars[0])) * 28 + 10
      << "\" role=\"img\" aria-label=\"funnel\">\n";
  int y = 5;
  for (const auto& [name, n] : bars) {
    long width = n * 360 / most;
    out << "<text x=\"0\" y=\"" << y + 16 << "\" font-size=\"14\">" << name << "</text>"
        << "<rect x=\"90\" y=\"" << y << "\" width=\"" << width << "\" height=\"20\" fill=\"#3a7bd5\"/>"
        << "<text x=\"" << 96 + width << "\" y=\"" << y + 16 << "\" font-size=\"14\">" << n << "</text>\n";
    y += 28;
  }
  out << "</svg>\n";
  htmlTable(out, "By version", byVersion);
  htmlTable(out, "By day", byDay);
  out << "<h2>Most frequent errors</h2>\n<table><tr><th>count</th><th>token</th></tr>\n";
  for (const auto& [token, n] : topErrors) {
    out << "<tr><td>" << n << "</td><td style=\"text-align:left\">" << escapeHtml(token) << "</td></tr>\n";
  }
  out << "</table>\n" << extraSections << "</body></html>\n";
  return out.str();
}
