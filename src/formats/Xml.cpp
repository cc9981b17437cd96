#include "formats/Xml.h"

#include <cwctype>

namespace {

constexpr size_t kNone = std::wstring::npos;

bool isSpace(wchar_t c) { return std::iswspace(static_cast<wint_t>(c)) != 0; }

wchar_t lowerAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

}  // namespace

XmlParseInfo::XmlParseInfo()
    : entities{{L'&', L"&amp;"}, {L'"', L"&quot;"}, {L'\'', L"&apos;"}, {L'<', L"&lt;"}, {L'>', L"&gt;"}} {}

bool XmlParseInfo::errorOccurred() const {
  std::lock_guard<std::mutex> hold(lock_);
  return errorOccurred_;
}

size_t XmlParseInfo::errorPosition() const {
  std::lock_guard<std::mutex> hold(lock_);
  return errorPosition_;
}

int XmlParseInfo::errorCode() const {
  std::lock_guard<std::mutex> hold(lock_);
  return errorCode_;
}

std::wstring XmlParseInfo::errorText() const {
  std::lock_guard<std::mutex> hold(lock_);
  return errorText_;
}

void XmlParseInfo::recordError(size_t position, int code, std::wstring text) {
  std::lock_guard<std::mutex> hold(lock_);
  if (errorOccurred_) return;
  errorOccurred_ = true;
  errorPosition_ = position;
  errorCode_ = code;
  errorText_ = std::move(text);
}

XmlParseInfo& defaultXmlParseInfo() {
  static XmlParseInfo shared;
  return shared;
}

// One pass of the reader over one text; load() calls itself once per
// nesting level, bounded by kXmlMaxNesting.
class XmlReader {
 public:
  enum class Status { kDone, kNoElement, kFailed };
  struct Result {
    Status status;
    size_t pos;
  };

  XmlReader(const std::wstring& text, XmlParseInfo& info) : text_(text), info_(info) {}

  Result load(XmlNode& node, size_t pos, int depth);

 private:
  static Result done(size_t pos) { return {Status::kDone, pos}; }
  static Result noElement() { return {Status::kNoElement, kNone}; }
  Result fail(size_t pos, int code, std::wstring message) {
    info_.recordError(pos, code, std::move(message));
    return {Status::kFailed, kNone};
  }

  wchar_t at(size_t i) const { return i < text_.size() ? text_[i] : L'\0'; }
  bool startsWithNoCase(size_t pos, const wchar_t* delimiter) const;
  size_t findNoCase(const wchar_t* delimiter, size_t from) const;
  size_t skipSpace(size_t pos, size_t end) const;
  size_t findTextEnd(size_t pos) const;

  // Returns true and sets pos past the markup when it was a comment, CDATA
  // section or processing instruction; returnNow asks load() to hand pos
  // back to the parent (a comment or CDATA section stored in it).
  bool skipMarkup(XmlNode& node, size_t& pos, bool& returnNow, bool& unterminated);
  Result readAttributes(XmlNode& node, size_t pos, size_t end, bool bounded);
  std::wstring valueOf(size_t begin, size_t end) const;
  std::wstring decodeEntities(const std::wstring& s) const;

  const std::wstring& text_;
  XmlParseInfo& info_;
};

bool XmlReader::startsWithNoCase(size_t pos, const wchar_t* delimiter) const {
  for (size_t i = 0; delimiter[i] != 0; ++i) {
    if (pos + i >= text_.size() || lowerAscii(text_[pos + i]) != lowerAscii(delimiter[i])) return false;
  }
  return true;
}

size_t XmlReader::findNoCase(const wchar_t* delimiter, size_t from) const {
  wchar_t first = lowerAscii(delimiter[0]);
  for (size_t i = from; i < text_.size(); ++i) {
    if (lowerAscii(text_[i]) == first && startsWithNoCase(i, delimiter)) return i;
  }
  return kNone;
}

size_t XmlReader::skipSpace(size_t pos, size_t end) const {
  while (pos < end && isSpace(text_[pos])) ++pos;
  return pos;
}

// Text runs to the next "<" that the escape character does not protect.
size_t XmlReader::findTextEnd(size_t pos) const {
  wchar_t escape = info_.escapeChar;
  for (size_t i = pos; i < text_.size(); ++i) {
    if (escape != 0 && text_[i] == escape) {
      ++i;
    } else if (text_[i] == L'<') {
      return i;
    }
  }
  return kNone;
}

std::wstring XmlReader::valueOf(size_t begin, size_t end) const {
  if (info_.trimValues) {
    while (begin < end && isSpace(text_[begin])) ++begin;
    while (end > begin && isSpace(text_[end - 1])) --end;
  }
  if (begin >= end) return std::wstring();
  wchar_t escape = info_.escapeChar;
  std::wstring out;
  out.reserve(end - begin);
  for (size_t i = begin; i < end; ++i) {
    if (escape != 0 && text_[i] == escape) {
      if (++i == end) break;
    }
    out += text_[i];
  }
  return info_.decodeEntities ? decodeEntities(out) : out;
}

std::wstring XmlReader::decodeEntities(const std::wstring& s) const {
  std::wstring out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    bool replaced = false;
    for (const XmlEntity& e : info_.entities) {
      if (!e.reference.empty() && s.compare(i, e.reference.size(), e.reference) == 0) {
        out += e.character;
        i += e.reference.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) out += s[i++];
  }
  return out;
}

bool XmlReader::skipMarkup(XmlNode& node, size_t& pos, bool& returnNow, bool& unterminated) {
  returnNow = false;
  unterminated = false;
  if (startsWithNoCase(pos, L"<?")) {
    size_t end = findNoCase(L"?>", pos + 2);
    if (end == kNone) {
      unterminated = true;
      return true;
    }
    if (node.document_ != nullptr) {
      XmlNode* doc = node.document_;
      auto pi = std::make_unique<XmlNode>(doc, doc, XmlNode::kProcessingInstruction);
      size_t nameEnd = pos + 2;
      while (nameEnd < end && text_[nameEnd] != L' ' && text_[nameEnd] != L'?' && text_[nameEnd] != L'>') ++nameEnd;
      pi->name_ = text_.substr(pos + 2, nameEnd - pos - 2);
      readAttributes(*pi, nameEnd, end, true);
      doc->children_.push_back(std::move(pi));
    }
    pos = end + 2;
    return true;
  }

  struct Kind {
    const wchar_t* open;
    const wchar_t* close;
    int type;
    const wchar_t* name;
  };
  static const Kind kKinds[] = {{L"<!--", L"-->", XmlNode::kComment, L"#COMMENT"},
                                {L"<![CDATA[", L"]]>", XmlNode::kCData, L"#CDATA"}};
  for (const Kind& kind : kKinds) {
    if (!startsWithNoCase(pos, kind.open)) continue;
    size_t openLength = std::char_traits<wchar_t>::length(kind.open);
    size_t end = findNoCase(kind.close, pos + openLength);
    if (end == kNone) {
      unterminated = true;
      return true;
    }
    XmlNode* holder = nullptr;
    if (node.parent_ != nullptr && node.parent_->type_ != XmlNode::kDocument) {
      holder = node.parent_;
      returnNow = true;
    } else if (node.document_ != nullptr) {
      holder = node.document_;
    }
    if (holder != nullptr) {
      auto markup = std::make_unique<XmlNode>(holder, node.document_, kind.type);
      markup->name_ = kind.name;
      markup->value_ = text_.substr(pos + openLength, end - pos - openLength);
      holder->children_.push_back(std::move(markup));
    }
    pos = end + std::char_traits<wchar_t>::length(kind.close);
    return true;
  }
  return false;
}

XmlReader::Result XmlReader::readAttributes(XmlNode& node, size_t pos, size_t end, bool bounded) {
  for (;;) {
    pos = skipSpace(pos, end);
    if (pos < end && (text_[pos] == L'>' || text_[pos] == L'/')) return done(pos);
    if (bounded && pos >= end) return done(pos);

    size_t nameEnd = pos;
    while (nameEnd < end && text_[nameEnd] != L' ' && text_[nameEnd] != L'=') ++nameEnd;
    if (nameEnd == end && !bounded) {
      return fail(pos, kXmlErrorAttribute, L"<" + node.name_ + L"> attribute has error ");
    }
    auto attribute = std::make_unique<XmlAttribute>();
    attribute->name = text_.substr(pos, nameEnd - pos);
    attribute->owner = &node;
    XmlAttribute& added = *attribute;
    node.attributes_.push_back(std::move(attribute));

    pos = skipSpace(nameEnd, end);
    if (pos >= end || text_[pos] != L'=') continue;
    pos = skipSpace(pos + 1, end);

    wchar_t quote = pos < end ? text_[pos] : L'\0';
    bool quoted = quote == L'"' || quote == L'\'';
    size_t begin = quoted ? pos + 1 : pos;
    size_t i = begin;
    while (i < end) {
      wchar_t c = text_[i];
      if (quoted ? c == quote : (c == L' ' || c == L'>')) break;
      i += c == L'\\' ? 2 : 1;
    }
    size_t valueEnd = i < end ? i : end;
    added.value = valueOf(begin, valueEnd);
    pos = (quoted && valueEnd < end) ? valueEnd + 1 : valueEnd;
  }
}

XmlReader::Result XmlReader::load(XmlNode& node, size_t pos, int depth) {
  node.children_.clear();
  node.attributes_.clear();
  node.name_.clear();
  node.value_.clear();

  if (startsWithNoCase(pos, L"<?")) {
    size_t end = text_.find(L"?>", pos + 2);
    if (end == kNone) return noElement();
    pos = end + 2;
  }

  for (;;) {
    pos = text_.find(L'<', pos);
    if (pos == kNone) return noElement();
    if (at(pos + 1) == L'/') return done(pos);
    bool returnNow = false, unterminated = false;
    if (!skipMarkup(node, pos, returnNow, unterminated)) break;
    if (unterminated) return noElement();
    if (returnNow) return done(pos);
  }

  if (depth > kXmlMaxNesting) {
    std::wstring outer = node.parent_ != nullptr ? node.parent_->name_ : std::wstring();
    return fail(pos, kXmlErrorTooDeep, L"<" + outer + L"> is nested too deeply");
  }

  size_t nameEnd = text_.find_first_of(L" />\t\r\n", pos + 1);
  if (nameEnd == kNone) nameEnd = text_.size();
  node.name_ = text_.substr(pos + 1, nameEnd - pos - 1);

  Result attributes = readAttributes(node, nameEnd, text_.size(), false);
  if (attributes.status != Status::kDone) return attributes;
  pos = attributes.pos;

  if (text_[pos] == L'/') {
    if (at(pos + 1) == L'>') return done(pos + 2);
    return fail(pos, kXmlErrorUnclosedStartTag, L"Element must be closed.");
  }

  ++pos;
  if (node.value_.empty()) {
    size_t end = findTextEnd(pos);
    if (end == kNone) {
      return fail(pos, kXmlErrorNotClosed, node.name_ + L" must be closed with </" + node.name_ + L">");
    }
    node.value_ = valueOf(pos, end);
    pos = end;
  }

  while (pos < text_.size()) {
    auto child = std::make_unique<XmlNode>(&node, node.document_);
    Result result = load(*child, pos, depth + 1);
    if (!child->name_.empty()) node.children_.push_back(std::move(child));
    if (result.status == Status::kFailed) return result;
    // Running out of text inside an element is a failure too, not an
    // element that quietly ends at the end of the input.
    if (result.status == Status::kNoElement) break;
    pos = result.pos;

    if (text_.compare(pos, 2, L"</") == 0) {
      size_t nameBegin = skipSpace(pos + 2, text_.size());
      size_t closeEnd = text_.find_first_of(L" >", nameBegin);
      if (closeEnd == kNone) break;
      std::wstring closeName = text_.substr(nameBegin, closeEnd - nameBegin);
      if (closeName == node.name_) return done(closeEnd + 1);
      if (!info_.forceParse) {
        return fail(pos, kXmlErrorMismatchedClose,
                    L"'<" + node.name_ + L"> ... </" + closeName + L">' is not wel-formed.");
      }
      // Step over the stray closing tag; staying on it would read it forever.
      pos = closeEnd + 1;
    } else if (node.value_.empty() && at(pos) != L'<') {
      size_t end = findTextEnd(pos);
      if (end == kNone) break;
      node.value_ = valueOf(pos, end);
      pos = end;
    }
  }
  return fail(pos, kXmlErrorNotClosed, L"it must be closed with </" + node.name_ + L">");
}

XmlNode::XmlNode(XmlNode* parent, XmlNode* document, int type) : parent_(parent), document_(document), type_(type) {}

std::optional<size_t> XmlNode::load(const std::wstring& text, XmlParseInfo& info) {
  XmlReader reader(text, info);
  XmlReader::Result result = reader.load(*this, 0, 1);
  if (result.status != XmlReader::Status::kDone) return std::nullopt;
  return result.pos;
}

const XmlAttribute* XmlNode::attribute(const std::wstring& name) const {
  for (const auto& a : attributes_) {
    if (a->name == name) return a.get();
  }
  return nullptr;
}

std::vector<const XmlNode*> XmlNode::installerChildren() const {
  std::vector<const XmlNode*> found;
  for (const auto& child : children_) {
    if (child->type_ == kElement && child->name_ == L"installer") found.push_back(child.get());
  }
  return found;
}
