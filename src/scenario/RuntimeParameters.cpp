#include "scenario/RuntimeParameters.h"

#include "formats/Json.h"

bool RuntimeParameters::apply(const std::wstring& javaJson) {
  JsonValue root = parseJson(javaJson);
  if (root.type() != JsonValue::kObject) return false;
  std::lock_guard<std::mutex> guard(lock_);
  if (const JsonValue* url = root.find(L"packedJreEbzUrl")) {
    if (url->type() == JsonValue::kString) packUrl_ = url->asString();
  }
  if (const JsonValue* version = root.find(L"minVersion")) {
    if (version->type() == JsonValue::kString) minVersion_ = parseJavaVersion(version->asString());
  }
  return true;
}

std::wstring RuntimeParameters::packUrl() const {
  std::lock_guard<std::mutex> guard(lock_);
  return packUrl_;
}

JavaVersion RuntimeParameters::minVersion() const {
  std::lock_guard<std::mutex> guard(lock_);
  return minVersion_;
}
