#include "PartnerReport.h"

#include <cstdio>
#include <sstream>

#include "EventStore.h"
#include "Report.h"

namespace {

std::string joined(const std::set<std::string>& items) {
  std::string out;
  for (const auto& item : items) out += (out.empty() ? "" : ",") + item;
  return out;
}

std::string exitCodeText(const std::map<std::string, long>& codes) {
  std::string out;
  for (const auto& [code, n] : codes) out += (out.empty() ? "" : " ") + code + ":" + std::to_string(n);
  return out;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> offerDecisions(const std::string& modeExtension) {
  std::vector<std::pair<std::string, std::string>> decisions;
  size_t start = modeExtension.find("pinstall:");
  if (start == std::string::npos) return decisions;
  std::istringstream tokens(modeExtension.substr(start + 9));
  std::string token;
  while (tokens >> token) {
    size_t colon = token.rfind(':');
    if (colon == std::string::npos || colon == 0) continue;
    decisions.emplace_back(token.substr(0, colon), token.substr(colon + 1));
  }
  return decisions;
}

PartnerReport PartnerReport::compute(EventStore& store) {
  std::map<std::string, PartnerRow> rows;
  auto row = [&](const std::string& id) -> PartnerRow& {
    PartnerRow& r = rows[id];
    r.pinstall = id;
    return r;
  };
  // Every event after the campaigns were read repeats the same text: count
  // each install once, by its last such event.
  std::map<std::string, std::string> byInstall;
  long unnamed = 0;
  for (auto& r : store.query("SELECT \"installId\", mode_ext FROM events WHERE mode_ext LIKE '%pinstall:%' ORDER BY id")) {
    std::string key = r["installId"].empty() ? "#" + std::to_string(unnamed++) : r["installId"];
    byInstall[key] = r["mode_ext"];
  }
  for (const auto& [install, modeExtension] : byInstall) {
    for (const auto& [id, decision] : offerDecisions(modeExtension)) {
      PartnerRow& r = row(id);
      if (decision == "free") ++r.offered;
      else if (decision == "busyreg") ++r.busy;
      else if (decision.compare(0, 4, "test") == 0) ++r.tested;
    }
  }
  for (auto& r : store.query(
           "SELECT pinstall, campaign_id, pexitcode FROM events WHERE mode = 'pinstallFinish' AND pinstall <> ''")) {
    PartnerRow& p = row(r["pinstall"]);
    ++p.finishes;
    if (!r["campaign_id"].empty()) p.campaigns.insert(r["campaign_id"]);
    if (!r["pexitcode"].empty()) {
      ++p.attempted;
      ++p.exitCodes[r["pexitcode"]];
    }
  }
  PartnerReport report;
  for (auto& [id, r] : rows) report.rows.push_back(std::move(r));
  return report;
}

std::string PartnerReport::text() const {
  std::ostringstream out;
  char line[512];
  out << "partner offers:\n";
  if (rows.empty()) {
    out << "  (none)\n";
    return out.str();
  }
  std::snprintf(line, sizeof line, "  %-24s %-20s %8s %8s %8s %8s %9s  %s\n", "offer", "campaigns", "offered", "busy",
                "tested", "finishes", "attempted", "exit codes");
  out << line;
  for (const auto& r : rows) {
    std::snprintf(line, sizeof line, "  %-24s %-20s %8ld %8ld %8ld %8ld %9ld  %s\n", r.pinstall.c_str(),
                  joined(r.campaigns).c_str(), r.offered, r.busy, r.tested, r.finishes, r.attempted,
                  exitCodeText(r.exitCodes).c_str());
    out << line;
  }
  return out.str();
}

std::string PartnerReport::html() const {
  std::ostringstream out;
  out << "<h2>Partner offers</h2>\n<table><tr><th>offer</th><th>campaigns</th><th>offered</th><th>busy</th>"
         "<th>tested</th><th>finishes</th><th>attempted</th><th>exit codes</th></tr>\n";
  for (const auto& r : rows) {
    out << "<tr><td style=\"text-align:left\">" << escapeHtml(r.pinstall) << "</td><td style=\"text-align:left\">"
        << escapeHtml(joined(r.campaigns)) << "</td><td>" << r.offered << "</td><td>" << r.busy << "</td><td>"
        << r.tested << "</td><td>" << r.finishes << "</td><td>" << r.attempted
        << "</td><td style=\"text-align:left\">" << escapeHtml(exitCodeText(r.exitCodes)) << "</td></tr>\n";
  }
  out << "</table>\n";
  return out.str();
}
