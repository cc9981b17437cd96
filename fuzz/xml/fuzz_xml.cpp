// Feeds arbitrary bytes to the XML reader, decoded the way answers are. The
// first byte picks the parse options so that every branch gets exercised.
#include <cstddef>
#include <cstdint>

#include "app/Text.h"
#include "formats/Xml.h"

namespace {

size_t visit(const XmlNode& node, int depth) {
  if (depth > kXmlMaxNesting + 1) __builtin_trap();
  size_t count = node.name().size() + node.value().size();
  for (const auto& a : node.attributes()) {
    if (a->owner != &node) __builtin_trap();
    count += a->name.size() + a->value.size();
  }
  for (const auto& child : node.children()) count += visit(*child, depth + 1);
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  uint8_t options = data[0];
  std::wstring text = text::utf8ToWide(reinterpret_cast<const char*>(data + 1), size - 1);

  XmlParseInfo info;
  info.trimValues = options & 1;
  info.decodeEntities = options & 2;
  info.forceParse = options & 4;
  if (options & 8) info.escapeChar = 0;
  XmlNode document(nullptr, nullptr, XmlNode::kDocument);
  XmlNode root(nullptr, (options & 16) ? &document : nullptr);

  std::optional<size_t> end = root.load(text, info);
  if (end && *end > text.size()) __builtin_trap();
  if (end && info.errorOccurred()) __builtin_trap();
  visit(root, 1);
  visit(document, 1);
  root.installerChildren();
  root.attribute(L"userId");
  return 0;
}
