#include "AnswerReadBack.h"

#include <optional>

#include "app/Text.h"
#include "formats/Json.h"

using nlohmann::json;

namespace {

std::wstring wide(const std::string& utf8) { return text::utf8ToWide(utf8); }

// The path of the first place where what the installer reads differs from
// what was meant, or nothing.
std::optional<std::string> firstDifference(const json& meant, const JsonValue& read, const std::string& path) {
  switch (meant.type()) {
    case json::value_t::string:
      if (read.type() == JsonValue::kString && read.asString() == wide(meant.get<std::string>())) return std::nullopt;
      return path;
    case json::value_t::boolean:
      if (read.type() == JsonValue::kBool && read.boolValue() == meant.get<bool>()) return std::nullopt;
      return path;
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
    case json::value_t::number_float: {
      bool number = read.type() == JsonValue::kDouble || read.type() == JsonValue::kInt || read.type() == JsonValue::kFloat;
      if (number && read.doubleValue() == meant.get<double>()) return std::nullopt;
      return path;
    }
    case json::value_t::null:
      if (read.isNull()) return std::nullopt;
      return path;
    case json::value_t::array: {
      if (read.type() != JsonValue::kArray) return path;
      JsonValue::Array elements = read.asArray();
      // The reader drops null elements, which shifts every later one.
      if (elements.size() != meant.size()) return path;
      for (size_t i = 0; i < elements.size(); ++i) {
        if (auto d = firstDifference(meant[i], elements[i], path + "[" + std::to_string(i) + "]")) return d;
      }
      return std::nullopt;
    }
    case json::value_t::object: {
      if (read.type() != JsonValue::kObject) return path;
      JsonValue::Object members = read.asObject();
      if (members.size() != meant.size()) return path;
      for (auto it = meant.begin(); it != meant.end(); ++it) {
        std::string at = path + "." + it.key();
        auto found = members.find(wide(it.key()));
        if (found == members.end()) return at;
        if (auto d = firstDifference(it.value(), found->second, at)) return d;
      }
      return std::nullopt;
    }
    default:
      return path;
  }
}

std::string likelyCause(const std::string& s) {
  if (!s.empty() && s.back() == '\\') return " (it ends in a backslash)";
  for (unsigned char c : s) {
    if (c < 0x20) return " (it holds a control character)";
  }
  if (s.empty()) return " (an empty name)";
  return "";
}

// The reader treats the top level and nested containers differently: a
// value is tried in each place an answer's strings sit, one at a time, so
// that one fault cannot cancel another.
bool readsBackNested(const json& value) {
  const json probes[] = {
      json::object({{"o", value}, {"z", 1}}),
      json::object({{"a", json::array({value})}, {"z", 1}}),
      json::object({{"a", json::array({json::object({{"o", value}}), 1})}, {"z", 1}}),
  };
  for (const json& probe : probes) {
    if (firstDifference(probe, parseJson(wide(probe.dump())), "")) return false;
  }
  return true;
}

// Each string and member name on its own, so that the message can name it.
std::optional<std::string> unreadableString(const json& value, const std::string& path) {
  if (value.is_string()) {
    if (!readsBackNested(json::object({{"v", value}}))) {
      return path + ": the installer's JSON reader cannot read this string back" +
             likelyCause(value.get<std::string>());
    }
  } else if (value.is_array()) {
    for (size_t i = 0; i < value.size(); ++i) {
      if (auto p = unreadableString(value[i], path + "[" + std::to_string(i) + "]")) return p;
    }
  } else if (value.is_object()) {
    for (auto it = value.begin(); it != value.end(); ++it) {
      std::string at = path + "." + it.key();
      if (!readsBackNested(json::object({{it.key(), 0}}))) {
        return at + ": the installer's JSON reader cannot read this member name back" + likelyCause(it.key());
      }
      if (auto p = unreadableString(it.value(), at)) return p;
    }
  }
  return std::nullopt;
}

}  // namespace

std::string answerReadBackProblem(const std::string& name, const json& entry, const std::string& answerBody) {
  for (const char* key : {"idState", "initxml", "tail", "campaigns", "packMirrors"}) {
    if (!entry.contains(key)) continue;
    if (auto problem = unreadableString(entry[key], name + "." + key)) return *problem;
  }
  // Then the answer as a whole, as the installer reads it: the data, and the
  // install data a second time from its string.
  const json meant = json::parse(answerBody);
  JsonValue read = parseJson(wide(answerBody));
  if (auto d = firstDifference(meant, read, "answer")) {
    return name + ": the installer's JSON reader does not read the answer back as written (first at " + *d + ")";
  }
  const json& data = meant["data"];
  if (data.contains("installData")) {
    const std::string installData = data["installData"].get<std::string>();
    if (auto d = firstDifference(json::parse(installData), parseJson(wide(installData)), "installData")) {
      return name + ": the installer's JSON reader does not read the install data back as written (first at " + *d +
             ")";
    }
  }
  return "";
}
