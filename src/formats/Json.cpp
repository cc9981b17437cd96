#include "formats/Json.h"

#include <cfloat>
#include <cmath>
#include <cwchar>
#include <cstdint>
#include <cwctype>
#include <string_view>

namespace {

using View = std::wstring_view;
constexpr size_t kNone = View::npos;

bool isSpace(wchar_t c) { return std::iswspace(static_cast<wint_t>(c)) != 0; }

View trimFront(View v) {
  size_t i = 0;
  while (i < v.size() && isSpace(v[i])) ++i;
  return v.substr(i);
}

View trimBoth(View v) {
  v = trimFront(v);
  size_t n = v.size();
  while (n > 0 && isSpace(v[n - 1])) --n;
  return v.substr(0, n);
}

bool equalsAsciiNoCase(const std::wstring& s, const wchar_t* word) {
  size_t i = 0;
  for (; i < s.size() && word[i] != 0; ++i) {
    wchar_t c = s[i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c != word[i]) return false;
  }
  return i == s.size() && word[i] == 0;
}

// Numbers are read here rather than with wcstod, whose number reading costs
// the installer about 20 KB. It reads the longest number at the front of the
// text as wcstod does (sign, decimal or 0x hexadecimal with an exponent,
// inf, infinity, nan) and 0 when there is none. Up to 19 significant digits
// are kept; short ones with small exponents, the usual case, come out
// exactly rounded, the rest through extended precision, within an ulp.
bool isDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

int hexDigit(wchar_t c) {
  if (isDigit(c)) return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

bool startsWithNoCase(View text, const wchar_t* word) {
  size_t i = 0;
  for (; word[i] != 0; ++i) {
    if (i >= text.size()) return false;
    wchar_t c = text[i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c != word[i]) return false;
  }
  return true;
}

// Reads "[eEpP][+-]digits" at text[i]; leaves i and exponent alone when no
// digit follows, as the mark then is not part of the number. Exponents are
// capped far beyond any double's range so they cannot overflow.
void readExponent(View text, size_t& i, wchar_t lower, long& exponent) {
  if (i >= text.size() || (text[i] != lower && text[i] != lower - (L'a' - L'A'))) return;
  size_t j = i + 1;
  bool negative = false;
  if (j < text.size() && (text[j] == L'+' || text[j] == L'-')) negative = text[j++] == L'-';
  if (j >= text.size() || !isDigit(text[j])) return;
  long value = 0;
  for (; j < text.size() && isDigit(text[j]); ++j) {
    if (value < 100000) value = value * 10 + (text[j] - L'0');
  }
  exponent = negative ? -value : value;
  i = j;
}

long double powerOfTen(long exponent) {
  long double result = 1.0L, factor = 10.0L;
  for (unsigned long e = static_cast<unsigned long>(exponent); e != 0; e >>= 1) {
    if (e & 1) result *= factor;
    factor *= factor;
  }
  return result;
}

double readHexMagnitude(View text) {
  uint64_t mantissa = 0;
  long exponent = 0;
  bool any = false;
  size_t i = 0;
  auto take = [&](int digit, bool fraction) {
    any = true;
    if (mantissa >> 60 == 0) {
      mantissa = mantissa * 16 + static_cast<unsigned>(digit);
      if (fraction) exponent -= 4;
    } else if (!fraction) {
      exponent += 4;
    }
  };
  for (; i < text.size() && hexDigit(text[i]) >= 0; ++i) take(hexDigit(text[i]), false);
  if (i < text.size() && text[i] == L'.') {
    for (++i; i < text.size() && hexDigit(text[i]) >= 0; ++i) take(hexDigit(text[i]), true);
  }
  if (!any) return 0.0;
  long power = 0;
  readExponent(text, i, L'p', power);
  return static_cast<double>(std::ldexp(static_cast<long double>(mantissa), static_cast<int>(exponent + power)));
}

// found tells whether any digit was there to read.
double readDecimalMagnitude(View text, bool& found) {
  uint64_t mantissa = 0;
  int kept = 0;
  long exponent = 0;
  bool any = false;
  size_t i = 0;
  auto take = [&](wchar_t c, bool fraction) {
    any = true;
    if (kept < 19) {
      if (kept > 0 || c != L'0') {
        mantissa = mantissa * 10 + static_cast<unsigned>(c - L'0');
        ++kept;
      }
      if (fraction) --exponent;
    } else if (!fraction) {
      ++exponent;
    }
  };
  for (; i < text.size() && isDigit(text[i]); ++i) take(text[i], false);
  if (i < text.size() && text[i] == L'.') {
    for (++i; i < text.size() && isDigit(text[i]); ++i) take(text[i], true);
  }
  found = any;
  if (!any || mantissa == 0) return 0.0;
  long power = 0;
  readExponent(text, i, L'e', power);
  exponent += power;
  // Both factors are exact doubles here, so the one rounding is the last.
  constexpr uint64_t kExactMantissa = uint64_t(1) << 53;
  if (mantissa <= kExactMantissa && exponent >= -22 && exponent <= 22) {
    double exact = static_cast<double>(mantissa);
    double scale = static_cast<double>(powerOfTen(exponent < 0 ? -exponent : exponent));
    return exponent < 0 ? exact / scale : exact * scale;
  }
  long double value = static_cast<long double>(mantissa);
  if (exponent < -6000) return 0.0;
  if (exponent > 6000) return HUGE_VAL;
  return static_cast<double>(exponent < 0 ? value / powerOfTen(-exponent) : value * powerOfTen(exponent));
}

double readNumber(View text) {
  bool negative = false;
  if (!text.empty() && (text[0] == L'+' || text[0] == L'-')) {
    negative = text[0] == L'-';
    text.remove_prefix(1);
  }
  double magnitude;
  if (startsWithNoCase(text, L"inf")) {
    magnitude = HUGE_VAL;
  } else if (startsWithNoCase(text, L"nan")) {
    magnitude = std::nan("");
  } else if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X') &&
             (hexDigit(text[2]) >= 0 || (text[2] == L'.' && text.size() > 3 && hexDigit(text[3]) >= 0))) {
    magnitude = readHexMagnitude(text.substr(2));
  } else {
    bool found = false;
    magnitude = readDecimalMagnitude(text, found);
    // A lone sign is no number: plain zero, not a negative one.
    if (!found) return 0.0;
  }
  return negative ? -magnitude : magnitude;
}

// Casting an out-of-range double to an integer is undefined; answers can
// carry any number, so the integer view saturates instead.
int32_t truncateToInt(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}

float narrowToFloat(double v) {
  if (std::isfinite(v) && std::fabs(v) > FLT_MAX) return v > 0 ? HUGE_VALF : -HUGE_VALF;
  return static_cast<float>(v);
}

// True when the quote at v[i] is escaped: only an odd run of backslashes
// right before it escapes it, so "C:\\" still ends at its last quote.
bool quoteEscaped(View v, size_t i) {
  size_t run = 0;
  while (run < i && v[i - 1 - run] == L'\\') ++run;
  return run % 2 == 1;
}

// Matching bracket for the one at v[0], counting only this bracket kind.
// Brackets inside strings do not count.
size_t findMatching(View v, wchar_t open, wchar_t close) {
  int count = 1;
  bool inString = false;
  for (size_t i = 1; i < v.size(); ++i) {
    wchar_t c = v[i];
    if (c == L'"' && !quoteEscaped(v, i)) {
      inString = !inString;
    } else if (!inString) {
      if (c == open) {
        ++count;
      } else if (c == close && --count == 0) {
        return i;
      }
    }
  }
  return kNone;
}

// Closing quote of the string that opens at v[0]; a backslash escapes the
// character after it.
size_t findStringEnd(View v) {
  for (size_t i = 1; i < v.size(); ++i) {
    if (v[i] == L'\\') {
      ++i;
    } else if (v[i] == L'"') {
      return i;
    }
  }
  return kNone;
}

size_t findUnescapedQuote(View v, size_t from) {
  for (size_t i = from; i < v.size(); ++i) {
    if (v[i] == L'"' && !quoteEscaped(v, i)) return i;
  }
  return kNone;
}

// \uXXXX is deliberately left as "uXXXX": the answers never rely on it and
// the product has always read it that way.
std::wstring unescape(View v) {
  std::wstring out;
  out.reserve(v.size());
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] != L'\\') {
      out += v[i];
      continue;
    }
    if (++i == v.size()) break;
    wchar_t next = v[i];
    switch (next) {
      case L'b': out += L'\b'; break;
      case L'f': out += L'\f'; break;
      case L'n': out += L'\n'; break;
      case L'r': out += L'\r'; break;
      case L't': out += L'\t'; break;
      default: out += next; break;
    }
  }
  return out;
}

JsonValue readArray(View text, int depth);
JsonValue readObject(View text, int depth);

// Reads one value from the front of text and leaves text at what follows it.
// depth is the nesting level a container read here would have.
JsonValue readValue(View& text, bool& error, int depth) {
  text = trimFront(text);
  if (text.empty()) return JsonValue();
  wchar_t first = text[0];

  if (first == L'[' || first == L'{') {
    if (depth > kJsonMaxNesting) {
      error = true;
      return JsonValue();
    }
    wchar_t close = first == L'[' ? L']' : L'}';
    size_t end = findMatching(text, first, close);
    if (end == kNone) {
      error = true;
      return JsonValue();
    }
    View part = text.substr(0, end + 1);
    text.remove_prefix(end + 1);
    return first == L'[' ? readArray(part, depth) : readObject(part, depth);
  }

  if (first == L'"') {
    size_t end = findStringEnd(text);
    if (end == kNone) {
      error = true;
      return JsonValue();
    }
    JsonValue value = JsonValue::fromString(unescape(text.substr(1, end - 1)));
    text.remove_prefix(end + 1);
    return value;
  }

  std::wstring literal;
  bool numberMark = false;
  size_t i = 0;
  for (; i < text.size(); ++i) {
    wchar_t c = text[i];
    if (c == L']' || c == L'}' || c == L',') break;
    if (isSpace(c)) continue;
    if (c == L'.' || c == L'e') numberMark = true;
    literal += c;
  }
  text.remove_prefix(i);

  if (equalsAsciiNoCase(literal, L"true")) return JsonValue::fromBool(true);
  if (equalsAsciiNoCase(literal, L"false")) return JsonValue::fromBool(false);
  if (numberMark) return JsonValue::fromDouble(readNumber(literal));
  if (equalsAsciiNoCase(literal, L"null")) return JsonValue();
  return JsonValue::fromDouble(readNumber(literal));
}

JsonValue readArray(View text, int depth) {
  text = trimBoth(text);
  if (!text.empty() && text.front() == L'[' && text.back() == L']') text = text.substr(1, text.size() - 2);

  JsonValue result = JsonValue::fromArray({});
  // The element buffer is always text[0, i): it restarts wherever a value
  // ends. Whether it holds anything but blanks is kept as it grows, since
  // re-trimming it at every quote made long answers quadratic.
  size_t i = 0;
  bool bufferBlank = true;
  while (i < text.size()) {
    wchar_t c = text[i];
    bool error = false;
    // A string element is read whole from its opening quote, so a ",", "]",
    // "{" or "[" inside it is text, not structure.
    bool stringStart = c == L'"' && bufferBlank;
    if (c == L'{' || c == L'[' || stringStart) {
      View rest = text.substr(i);
      JsonValue value = readValue(rest, error, depth + 1);
      if (error) return JsonValue::fromArray({});
      if (!value.isNull()) result.append(std::move(value));
      text = rest;
      i = 0;
      bufferBlank = true;
      continue;
    }
    bool separator = c == L',' || c == L']';
    bool last = i + 1 == text.size();
    if (separator || last) {
      View buffer = text.substr(0, separator ? i : i + 1);
      JsonValue value = readValue(buffer, error, depth + 1);
      if (error) return JsonValue::fromArray({});
      if (!value.isNull()) result.append(std::move(value));
      if (!separator) break;
      text.remove_prefix(i + 1);
      i = 0;
      bufferBlank = true;
      continue;
    }
    if (!isSpace(c)) bufferBlank = false;
    ++i;
  }
  return result;
}

JsonValue readObject(View text, int depth) {
  text = trimBoth(text);
  // Both ends go even when only one of them is a brace.
  if (!text.empty() && (text.front() == L'{' || text.back() == L'}')) {
    text = text.size() >= 2 ? text.substr(1, text.size() - 2) : View();
  }

  JsonValue result = JsonValue::fromObject({});
  // Blanks after the last member are not another member.
  while (!(text = trimFront(text)).empty()) {
    size_t open = findUnescapedQuote(text, 0);
    size_t close = open == kNone ? kNone : findUnescapedQuote(text, open + 1);
    size_t colon = close == kNone ? kNone : text.find(L':', close);
    if (colon == kNone) return JsonValue::fromObject({});
    std::wstring key(text.substr(open + 1, close - open - 1));
    if (key.empty()) return JsonValue::fromObject({});

    View rest = text.substr(colon + 1);
    bool error = false;
    JsonValue value = readValue(rest, error, depth + 1);
    if (error) return JsonValue::fromObject({});
    result.member(key) = std::move(value);
    text = rest;
  }
  return result;
}

// Yields the UTF-16 code units of a wide text one at a time, splitting code
// points above U+FFFF where wchar_t is 32 bits wide.
class Utf16Units {
 public:
  Utf16Units(const std::wstring& s, size_t from) : s_(s), i_(from) {}
  bool next(uint32_t& unit) {
    if (low_ != 0) {
      unit = low_;
      low_ = 0;
      return true;
    }
    if (i_ >= s_.size()) return false;
    uint32_t c = static_cast<uint32_t>(s_[i_++]);
    if (sizeof(wchar_t) > 2 && c >= 0x10000 && c <= 0x10FFFF) {
      c -= 0x10000;
      unit = 0xD800 + (c >> 10);
      low_ = 0xDC00 + (c & 0x3FF);
    } else {
      unit = c;
    }
    return true;
  }

 private:
  const std::wstring& s_;
  size_t i_;
  uint32_t low_ = 0;
};

void appendEscaped(std::wstring& out, const std::wstring& s) {
  static const wchar_t kHex[] = L"0123456789abcdef";
  out += L'"';
  for (wchar_t c : s) {
    switch (c) {
      case L'"': out += L"\\\""; break;
      case L'\\': out += L"\\\\"; break;
      case L'\b': out += L"\\b"; break;
      case L'\f': out += L"\\f"; break;
      case L'\n': out += L"\\n"; break;
      case L'\r': out += L"\\r"; break;
      case L'\t': out += L"\\t"; break;
      default:
        if (static_cast<uint32_t>(c) < 0x20) {
          out += L"\\u00";
          out += kHex[(c >> 4) & 0xF];
          out += kHex[c & 0xF];
        } else {
          out += c;
        }
    }
  }
  out += L'"';
}

}  // namespace

bool JsonKeyLess::operator()(const std::wstring& a, const std::wstring& b) const {
  size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  Utf16Units ua(a, i), ub(b, i);
  for (;;) {
    uint32_t x = 0, y = 0;
    bool hasX = ua.next(x), hasY = ub.next(y);
    if (!hasX || !hasY) return !hasX && hasY;
    if (x != y) return x < y;
  }
}

JsonValue::JsonValue(const JsonValue& other) : type_(other.type_) {
  switch (type_) {
    case kString: string_ = other.string_; break;
    case kInt: *this = fromInt(other.int_); break;
    case kFloat: *this = fromFloat(other.float_); break;
    case kDouble: setNumberFromDouble(other.double_); break;
    case kObject: object_ = std::make_unique<Object>(other.object_ ? *other.object_ : Object()); break;
    case kArray: array_ = std::make_unique<Array>(other.array_ ? *other.array_ : Array()); break;
    case kBool: bool_ = other.bool_; break;
    default: break;
  }
}

JsonValue& JsonValue::operator=(const JsonValue& other) {
  if (this != &other) *this = JsonValue(other);
  return *this;
}

JsonValue JsonValue::fromString(std::wstring s) {
  JsonValue v;
  v.type_ = kString;
  v.string_ = std::move(s);
  return v;
}

JsonValue JsonValue::fromInt(int32_t i) {
  JsonValue v;
  v.type_ = kInt;
  v.int_ = i;
  v.float_ = static_cast<float>(i);
  v.double_ = i;
  return v;
}

JsonValue JsonValue::fromFloat(float f) {
  JsonValue v;
  v.type_ = kFloat;
  v.float_ = f;
  v.int_ = truncateToInt(f);
  v.double_ = f;
  return v;
}

JsonValue JsonValue::fromDouble(double d) {
  JsonValue v;
  v.type_ = kDouble;
  v.setNumberFromDouble(d);
  return v;
}

JsonValue JsonValue::fromBool(bool b) {
  JsonValue v;
  v.type_ = kBool;
  v.bool_ = b;
  return v;
}

JsonValue JsonValue::fromObject(Object members) {
  JsonValue v;
  v.type_ = kObject;
  v.object_ = std::make_unique<Object>(std::move(members));
  return v;
}

JsonValue JsonValue::fromArray(Array elements) {
  JsonValue v;
  v.type_ = kArray;
  v.array_ = std::make_unique<Array>(std::move(elements));
  return v;
}

void JsonValue::setNumberFromDouble(double d) {
  double_ = d;
  int_ = truncateToInt(d);
  float_ = narrowToFloat(d);
}

std::wstring JsonValue::asString() const { return type_ == kString ? string_ : std::wstring(); }

JsonValue& JsonValue::member(const std::wstring& key) {
  if (!object_) object_ = std::make_unique<Object>();
  return (*object_)[key];
}

const JsonValue* JsonValue::find(const std::wstring& key) const {
  if (!object_) return nullptr;
  auto it = object_->find(key);
  return it == object_->end() ? nullptr : &it->second;
}

void JsonValue::append(JsonValue element) {
  if (!array_) array_ = std::make_unique<Array>();
  array_->push_back(std::move(element));
}

JsonValue parseJson(const std::wstring& text) {
  View t = trimBoth(text);
  if (t.empty()) return JsonValue();
  if (t.front() == L'{') return t.back() == L'}' ? readObject(t, 1) : JsonValue();
  if (t.front() == L'[' && t.back() == L']') return readArray(t, 1);
  return JsonValue();
}

std::wstring jsonObjectText(const std::map<std::wstring, std::wstring>& members) {
  std::wstring out = L"{";
  bool first = true;
  for (const auto& [name, value] : members) {
    if (!first) out += L',';
    first = false;
    appendEscaped(out, name);
    out += L':';
    appendEscaped(out, value);
  }
  out += L'}';
  return out;
}

std::wstring jsonStringText(const std::wstring& s) {
  std::wstring out;
  appendEscaped(out, s);
  return out;
}
