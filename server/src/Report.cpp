#include "Report.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>

#include "EventStore.h"

namespace {

// Classification by event name; "cancel" (before the scenario started)
// counts with the cancels.
// CASE rather than summed comparisons: PostgreSQL does not add booleans.
const char kFunnelColumns[] =
    "SUM(CASE WHEN mode IN ('installStart','reinstallStart') THEN 1 ELSE 0 END) AS starts, "
    "SUM(CASE WHEN mode IN ('installFinish','reinstallFinish') THEN 1 ELSE 0 END) AS finishes, "
    "SUM(CASE WHEN mode IN ('installFail','reinstallFail') THEN 1 ELSE 0 END) AS fails, "
    "SUM(CASE WHEN mode IN ('installCancel','reinstallCancel','cancel') THEN 1 ELSE 0 END) AS cancels, "
    "SUM(CASE WHEN mode = 'restart' THEN 1 ELSE 0 END) AS restarts, COUNT(*) AS total";

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

namespace {

std::vector<std::pair<std::string, long>> rankTokens(EventStore& store, const std::string& sql, size_t most) {
  std::map<std::string, long> counts;
  for (auto& r : store.query(sql)) {
    // An event counts once per token, however often its text repeats it.
    auto tokens = errorTokens(r["errors"]);
    for (auto& token : std::set<std::string>(tokens.begin(), tokens.end())) ++counts[token];
  }
  std::vector<std::pair<std::string, long>> ranked(counts.begin(), counts.end());
  std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
  if (ranked.size() > most) ranked.resize(most);
  return ranked;
}

struct Stage {
  const char* name;
  const char* colour;
  long FunnelRow::*count;
};
const Stage kStages[] = {{"starts", "#4e79a7", &FunnelRow::starts},
                         {"finishes", "#59a14f", &FunnelRow::finishes},
                         {"fails", "#e15759", &FunnelRow::fails},
                         {"cancels", "#f28e2b", &FunnelRow::cancels},
                         {"restarts", "#9c755f", &FunnelRow::restarts}};

// A round number at or above n, for the chart's scale.
long niceCeiling(long n) {
  long step = 1;
  while (step * 10 < n) step *= 10;
  for (long f : {1, 2, 5, 10}) {
    if (f * step >= n) return f * step;
  }
  return 10 * step;
}

void tokenTable(std::ostringstream& out, const char* title, const char* what,
                const std::vector<std::pair<std::string, long>>& tokens, long of) {
  out << "<h2>" << title << "</h2>\n<table><tr><th>count</th>";
  if (of > 0) out << "<th>share</th>";
  out << "<th>" << what << "</th></tr>\n";
  if (tokens.empty()) out << "<tr><td colspan=\"3\" style=\"text-align:left\">(none)</td></tr>\n";
  for (const auto& [token, n] : tokens) {
    out << "<tr><td>" << n << "</td>";
    if (of > 0) out << "<td>" << (n * 100 + of / 2) / of << " %</td>";
    out << "<td style=\"text-align:left\">" << escapeHtml(token) << "</td></tr>\n";
  }
  out << "</table>\n";
}

}  // namespace

std::string funnelChart(const std::string& title, const std::vector<FunnelRow>& all) {
  // The latest groups only: a chart of a year of days reads as a smear.
  constexpr size_t kMostGroups = 31;
  std::vector<FunnelRow> rows(all.size() > kMostGroups ? all.end() - kMostGroups : all.begin(), all.end());
  long most = 1;
  for (const auto& r : rows) {
    for (const auto& st : kStages) most = std::max(most, r.*st.count);
  }
  const long scale = niceCeiling(most);
  const int bar = 9, gap = 14, left = 48, top = 34, plot = 180;
  const int group = bar * 5 + gap;
  const int width = std::max(left + 5 * 80, left + static_cast<int>(rows.size()) * group + 20);
  const int height = top + plot + 60;
  std::ostringstream out;
  out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
      << "\" role=\"img\" aria-label=\"" << escapeHtml(title) << "\" font-family=\"sans-serif\" font-size=\"11\">\n";
  // Legend.
  int x = left;
  for (const auto& st : kStages) {
    out << "<rect x=\"" << x << "\" y=\"6\" width=\"10\" height=\"10\" fill=\"" << st.colour << "\"/><text x=\""
        << x + 14 << "\" y=\"15\">" << st.name << "</text>\n";
    x += 80;
  }
  // Scale: four grid lines.
  for (int i = 0; i <= 4; ++i) {
    int y = top + plot - plot * i / 4;
    out << "<line x1=\"" << left - 4 << "\" y1=\"" << y << "\" x2=\"" << width - 10 << "\" y2=\"" << y
        << "\" stroke=\"#ddd\"/><text x=\"" << left - 6 << "\" y=\"" << y + 4 << "\" text-anchor=\"end\">"
        << scale * i / 4 << "</text>\n";
  }
  if (rows.empty()) {
    out << "<text x=\"" << left + 10 << "\" y=\"" << top + plot / 2 << "\">no events yet</text>\n";
  }
  for (size_t g = 0; g < rows.size(); ++g) {
    int gx = left + 6 + static_cast<int>(g) * group;
    int b = 0;
    for (const auto& st : kStages) {
      long n = rows[g].*st.count;
      int h = static_cast<int>(n * plot / scale);
      out << "<rect x=\"" << gx + b * bar << "\" y=\"" << top + plot - h << "\" width=\"" << bar - 1
          << "\" height=\"" << h << "\" fill=\"" << st.colour << "\"><title>" << escapeHtml(rows[g].label) << " "
          << st.name << ": " << n << "</title></rect>\n";
      ++b;
    }
    std::string label = rows[g].label.empty() ? "(none)" : rows[g].label;
    if (label.size() > 12) label = label.substr(0, 11) + "\xE2\x80\xA6";
    int lx = gx + bar * 5 / 2;
    int ly = top + plot + 12;
    out << "<text x=\"" << lx << "\" y=\"" << ly << "\" text-anchor=\"end\" transform=\"rotate(-35 " << lx << " "
        << ly << ")\">" << escapeHtml(label) << "</text>\n";
  }
  out << "</svg>\n";
  return out.str();
}

FunnelReport FunnelReport::compute(EventStore& store, size_t maxErrors) {
  FunnelReport report;
  auto count = store.query("SELECT COUNT(*) AS n FROM events");
  report.events = count.empty() ? 0 : std::stol(count[0]["n"]);
  report.byVersion = funnelBy(store, "version");
  report.byDay = funnelBy(store, "substr(received, 1, 10)");
  report.topErrors = rankTokens(store, "SELECT errors FROM events WHERE errors <> ''", maxErrors);
  report.topFailureCauses = rankTokens(
      store, "SELECT errors FROM events WHERE mode IN ('installFail','reinstallFail') AND errors <> ''", maxErrors);
  return report;
}

std::string FunnelReport::text() const {
  std::ostringstream out;
  out << "events: " << events << "\n";
  textTable(out, "by version:", byVersion);
  textTable(out, "by day:", byDay);
  out << "most frequent failure causes:\n";
  if (topFailureCauses.empty()) out << "  (none)\n";
  for (const auto& [token, n] : topFailureCauses) out << "  " << n << "  " << token << "\n";
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
  auto share = [&](long n) {
    return total.starts > 0 ? std::to_string((n * 100 + total.starts / 2) / total.starts) + " %" : std::string("-");
  };

  std::ostringstream out;
  out << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Install funnel</title>\n"
         "<style>body{font-family:sans-serif;margin:16px 24px;color:#222}table{border-collapse:collapse;margin-bottom:8px}"
         "td,th{border:1px solid #bbb;padding:2px 8px;text-align:right}th{background:#eee}"
         ".tiles{display:flex;gap:12px;flex-wrap:wrap}.tile{border:1px solid #bbb;border-radius:6px;padding:8px 14px;"
         "min-width:90px}.tile b{display:block;font-size:22px}.charts{display:flex;gap:24px;flex-wrap:wrap}"
         "h2{margin:18px 0 6px}</style></head><body>\n"
      << "<h1>Install funnel</h1>\n<p>" << events << " events</p>\n<div class=\"tiles\">\n";
  for (const auto& st : kStages) {
    long n = total.*st.count;
    out << "<div class=\"tile\" style=\"border-top:4px solid " << st.colour << "\">" << st.name << "<b>" << n
        << "</b>" << (st.count == &FunnelRow::starts ? std::string("&nbsp;") : share(n) + " of starts") << "</div>\n";
  }
  out << "</div>\n<div class=\"charts\">\n<div><h2>By day</h2>\n" << funnelChart("funnel by day", byDay)
      << "</div>\n<div><h2>By installer version</h2>\n" << funnelChart("funnel by installer version", byVersion)
      << "</div>\n</div>\n";
  tokenTable(out, "Most frequent failure causes", "error token of failed installs", topFailureCauses, total.fails);
  tokenTable(out, "Most frequent error tokens", "token", topErrors, 0);
  htmlTable(out, "By version", byVersion);
  htmlTable(out, "By day", byDay);
  out << extraSections << "</body></html>\n";
  return out.str();
}
