// Feeds arbitrary bytes to the JSON reader, decoded the way answers are.
#include <cstddef>
#include <cstdint>

#include "app/Text.h"
#include "formats/Json.h"

namespace {

// Walks the whole result so every stored value is touched.
size_t visit(const JsonValue& v, int depth) {
  size_t count = 1;
  if (depth > kJsonMaxNesting + 1) __builtin_trap();
  for (const auto& element : v.asArray()) count += visit(element, depth + 1);
  for (const auto& [key, member] : v.asObject()) count += key.size() + visit(member, depth + 1);
  return count + v.asString().size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::wstring text = text::utf8ToWide(reinterpret_cast<const char*>(data), size);
  JsonValue value = parseJson(text);
  if (!value.isNull() && value.type() != JsonValue::kObject && value.type() != JsonValue::kArray) __builtin_trap();
  visit(value, 1);
  if (value.type() == JsonValue::kObject) value.member(L"id");
  return 0;
}
