#pragma once
// The lenient JSON reader for server answers. It cuts the text apart by
// counting brackets and quotes rather than tokenising it, and never reports
// an error message: unreadable text gives a null value or an empty
// container, which callers test for. Portable; no shared state, so any
// thread may parse.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Containers nested deeper than this read as a failure (the enclosing
// container comes out empty) instead of exhausting the stack.
constexpr int kJsonMaxNesting = 256;

// Orders keys by their UTF-16 code units, whatever the width of wchar_t, so
// that objects iterate in the same order in every build.
struct JsonKeyLess {
  bool operator()(const std::wstring& a, const std::wstring& b) const;
};

class JsonValue {
 public:
  enum Type { kNull = 0, kString = 1, kInt = 2, kFloat = 3, kDouble = 4, kObject = 5, kArray = 6, kBool = 7 };
  using Object = std::map<std::wstring, JsonValue, JsonKeyLess>;
  using Array = std::vector<JsonValue>;

  JsonValue() = default;
  // Copies the type and the member the type names; the number views are
  // refilled from it. Members stored under another type are not copied.
  JsonValue(const JsonValue& other);
  JsonValue& operator=(const JsonValue& other);
  JsonValue(JsonValue&&) noexcept = default;
  JsonValue& operator=(JsonValue&&) noexcept = default;
  ~JsonValue() = default;

  static JsonValue fromString(std::wstring s);
  static JsonValue fromInt(int32_t v);
  static JsonValue fromFloat(float v);
  static JsonValue fromDouble(double v);
  static JsonValue fromBool(bool v);
  static JsonValue fromObject(Object members);
  static JsonValue fromArray(Array elements);

  int type() const { return type_; }
  bool isNull() const { return type_ == kNull; }
  // The three number views stay in step whichever one the value was built from.
  int32_t intValue() const { return int_; }
  float floatValue() const { return float_; }
  double doubleValue() const { return double_; }
  bool boolValue() const { return bool_; }

  // Empty unless the value is a string.
  std::wstring asString() const;
  Object asObject() const { return object_ ? *object_ : Object(); }
  Array asArray() const { return array_ ? *array_ : Array(); }

  // The member stored under key. A missing key is inserted with a null value,
  // so chained look-ups never fail and a missing member reads as null. The
  // reference stays valid while this value lives.
  JsonValue& member(const std::wstring& key);
  // Looks up without inserting; nullptr when the key is missing.
  const JsonValue* find(const std::wstring& key) const;

  void append(JsonValue element);

 private:
  void setNumberFromDouble(double v);

  int type_ = kNull;
  int32_t int_ = 0;
  float float_ = 0.0f;
  double double_ = 0.0;
  bool bool_ = false;
  std::wstring string_;
  // Containers are allocated only for values that hold one: answers carry
  // many small values, and this halves what each one costs.
  std::unique_ptr<Object> object_;
  std::unique_ptr<Array> array_;
};

// Reads a whole answer. The result is an object or an array; anything else
// gives null.
JsonValue parseJson(const std::wstring& text);

// {"name":"value",...} with quotes, backslashes and control characters
// escaped, for request parameters that carry a small JSON object.
std::wstring jsonObjectText(const std::map<std::wstring, std::wstring>& members);

// One string as JSON text: quoted, with quotes, backslashes and control
// characters escaped; other characters pass as they are.
std::wstring jsonStringText(const std::wstring& s);
