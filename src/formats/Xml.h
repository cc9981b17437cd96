#pragma once
// The small, forgiving XML reader for server answers and the install data.
// It reads one element with everything inside it, records the first error in
// an XmlParseInfo instead of failing loudly, and keeps whatever it had read
// up to an error. There is no writer. Portable.
//
// Threads: a node tree belongs to the thread that loads it. An XmlParseInfo
// may be shared by threads (the default one is): its options are only read
// while parsing and its error report is guarded by a lock.
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Elements nested deeper than this are reported as error kXmlErrorTooDeep
// instead of exhausting the stack.
constexpr int kXmlMaxNesting = 256;

enum XmlErrorCode {
  kXmlErrorNone = 0,
  kXmlErrorUnclosedStartTag = 1,  // "/" in a start tag without ">"
  kXmlErrorNotClosed = 2,         // text or element runs to the end of the input
  kXmlErrorMismatchedClose = 3,   // closing tag names another element
  kXmlErrorAttribute = 4,         // attribute name never ends
  kXmlErrorTooDeep = 5,
};

struct XmlEntity {
  wchar_t character;
  std::wstring reference;
};

class XmlParseInfo {
 public:
  XmlParseInfo();
  XmlParseInfo(const XmlParseInfo&) = delete;
  XmlParseInfo& operator=(const XmlParseInfo&) = delete;

  bool trimValues = false;
  bool decodeEntities = true;
  std::vector<XmlEntity> entities;  // tried in order
  wchar_t escapeChar = L'\\';       // 0: no escape character
  bool forceParse = false;          // go on past a closing tag that does not match

  bool errorOccurred() const;
  size_t errorPosition() const;  // index into the loaded text; npos before any error
  int errorCode() const;
  std::wstring errorText() const;

  // Keeps only the first error ever recorded.
  void recordError(size_t position, int code, std::wstring text);

 private:
  mutable std::mutex lock_;
  bool errorOccurred_ = false;
  size_t errorPosition_ = std::wstring::npos;
  int errorCode_ = kXmlErrorNone;
  std::wstring errorText_;
};

// The record every caller shares; it is never reset, so it keeps the first
// error of the whole run.
XmlParseInfo& defaultXmlParseInfo();

class XmlNode;

struct XmlAttribute {
  std::wstring name;
  std::wstring value;
  XmlNode* owner = nullptr;
};

class XmlNode {
 public:
  enum Type { kElement = 0, kProcessingInstruction = 1, kComment = 2, kCData = 3, kDocument = 4 };

  // The root a caller parses into has neither parent nor document.
  explicit XmlNode(XmlNode* parent = nullptr, XmlNode* document = nullptr, int type = kElement);
  XmlNode(const XmlNode&) = delete;
  XmlNode& operator=(const XmlNode&) = delete;

  // Reads the first element of text into this node, replacing what it held.
  // Returns the index just after the element, or nothing when no element was
  // found or an error was recorded in info; the tree keeps what was read.
  std::optional<size_t> load(const std::wstring& text, XmlParseInfo& info = defaultXmlParseInfo());

  const std::wstring& name() const { return name_; }
  const std::wstring& value() const { return value_; }
  XmlNode* parent() const { return parent_; }
  XmlNode* document() const { return document_; }
  int type() const { return type_; }
  const std::vector<std::unique_ptr<XmlNode>>& children() const { return children_; }
  const std::vector<std::unique_ptr<XmlAttribute>>& attributes() const { return attributes_; }

  // First attribute with exactly this name (case-sensitive), or nullptr.
  const XmlAttribute* attribute(const std::wstring& name) const;
  // Child elements named exactly "installer", in document order.
  std::vector<const XmlNode*> installerChildren() const;

 private:
  friend class XmlReader;

  std::wstring name_;
  std::wstring value_;
  XmlNode* parent_;
  XmlNode* document_;
  int type_;
  std::vector<std::unique_ptr<XmlNode>> children_;
  std::vector<std::unique_ptr<XmlAttribute>> attributes_;
};
