#pragma once
// What the statistics endpoint answers to a start event: the identity
// verdict, the install data (init xml and tail), the partner campaigns and
// the pack mirrors, chosen by install key from a JSON config file (see
// server/README.md).
//
// Threading: immutable after load(); answerFor() may run on any thread.
#include <map>
#include <string>

#include <nlohmann/json.hpp>

class StartAnswer {
 public:
  // Without a config every start event gets {"data":{}}.
  StartAnswer() = default;

  // Reads and checks the config; false with error() when it is not usable,
  // so a typo stops the server instead of serving half an answer.
  bool load(const std::string& configPath);
  bool loadText(const std::string& configText);
  const std::string& error() const { return error_; }

  // The answer body for an install key: its own entry, else "default",
  // else {"data":{}}.
  std::string answerFor(const std::string& installKey) const;

 private:
  bool addEntry(const std::string& name, const nlohmann::json& entry, std::map<std::string, std::string>& into);

  std::map<std::string, std::string> byKey_;  // install key -> answer body
  std::string fallback_ = R"({"data":{}})";
  std::string error_;
};
