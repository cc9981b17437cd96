#include "StartAnswer.h"

#include <fstream>
#include <iterator>

#include "AnswerReadBack.h"

using nlohmann::json;

bool StartAnswer::load(const std::string& configPath) {
  std::ifstream in(configPath, std::ios::binary);
  if (!in) {
    error_ = "cannot read " + configPath;
    return false;
  }
  return loadText(std::string(std::istreambuf_iterator<char>(in), {}));
}

bool StartAnswer::addEntry(const std::string& name, const json& entry, std::map<std::string, std::string>& into) {
  if (!entry.is_object()) {
    error_ = name + ": not an object";
    return false;
  }
  json data = json::object();
  json installData = json::object();
  for (const char* key : {"idState", "initxml", "tail"}) {
    if (!entry.contains(key)) continue;
    if (!entry[key].is_string()) {
      error_ = name + "." + key + ": not a string";
      return false;
    }
  }
  if (entry.contains("idState")) data["idState"] = entry["idState"];
  if (entry.contains("initxml")) installData["initxml"] = entry["initxml"];
  if (entry.contains("tail")) installData["tail"] = entry["tail"];
  // The installer parses "installData" a second time: it travels as a string
  // holding JSON text, not as a nested object.
  if (!installData.empty()) data["installData"] = installData.dump();
  if (entry.contains("campaigns")) {
    if (!entry["campaigns"].is_array()) {
      error_ = name + ".campaigns: not an array";
      return false;
    }
    data["campaigns"] = entry["campaigns"];
  }
  // Installers that know nothing of mirrors read the answer as before: a
  // member they do not ask for is passed over.
  if (entry.contains("packMirrors")) {
    const json& mirrors = entry["packMirrors"];
    if (!mirrors.is_array()) {
      error_ = name + ".packMirrors: not an array";
      return false;
    }
    for (size_t i = 0; i < mirrors.size(); ++i) {
      if (!mirrors[i].is_string() || mirrors[i].get<std::string>().empty()) {
        error_ = name + ".packMirrors[" + std::to_string(i) + "]: not an address";
        return false;
      }
    }
    data["packMirrors"] = mirrors;
  }
  std::string answer = json{{"data", data}}.dump();
  std::string problem = answerReadBackProblem(name, entry, answer);
  if (!problem.empty()) {
    error_ = problem;
    return false;
  }
  into[name] = std::move(answer);
  return true;
}

bool StartAnswer::loadText(const std::string& configText) {
  json config = json::parse(configText, nullptr, false);
  if (config.is_discarded() || !config.is_object()) {
    error_ = "config is not a JSON object";
    return false;
  }
  std::map<std::string, std::string> byKey;
  std::string fallback = R"({"data":{}})";
  if (config.contains("default")) {
    std::map<std::string, std::string> one;
    if (!addEntry("default", config["default"], one)) return false;
    fallback = one["default"];
  }
  if (config.contains("installKeys")) {
    const json& keys = config["installKeys"];
    if (!keys.is_object()) {
      error_ = "installKeys: not an object";
      return false;
    }
    for (auto it = keys.begin(); it != keys.end(); ++it) {
      if (!addEntry(it.key(), it.value(), byKey)) return false;
    }
  }
  byKey_ = std::move(byKey);
  fallback_ = std::move(fallback);
  return true;
}

std::string StartAnswer::answerFor(const std::string& installKey) const {
  auto it = byKey_.find(installKey);
  return it == byKey_.end() ? fallback_ : it->second;
}
