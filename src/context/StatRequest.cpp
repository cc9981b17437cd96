#include "context/StatRequest.h"

#include <set>

#include "app/Text.h"
#include "formats/Blowfish.h"

namespace stats {
namespace {

constexpr size_t kBlock = 8;
constexpr char kUpperHex[] = "0123456789ABCDEF";
constexpr char kLowerHex[] = "0123456789abcdef";

bool isUnreserved(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-' ||
         c == u'_' || c == u'.' || c == u'~';
}

void appendEscape(std::wstring& out, unsigned byte) {
  out += L'%';
  out += static_cast<wchar_t>(kUpperHex[(byte >> 4) & 0xF]);
  out += static_cast<wchar_t>(kUpperHex[byte & 0xF]);
}

const Blowfish& cipher() {
  static const Blowfish instance(reinterpret_cast<const uint8_t*>(kCipherKey), sizeof(kCipherKey) - 1);
  return instance;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Natively wchar_t holds code points, so a high half followed by a low half
// becomes one character there; a lone half is kept as it came.
std::wstring fromUtf16(const std::u16string& units) {
  std::wstring out;
  out.reserve(units.size());
  for (size_t i = 0; i < units.size(); ++i) {
    char16_t u = units[i];
    if (sizeof(wchar_t) > 2 && u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      uint32_t cp = 0x10000 + ((uint32_t(u) - 0xD800) << 10) + (uint32_t(units[i + 1]) - 0xDC00);
      out += static_cast<wchar_t>(cp);
      ++i;
    } else {
      out += static_cast<wchar_t>(u);
    }
  }
  return out;
}

// UTF-8 that the encoder can have produced: shortest forms only; three-byte
// surrogate halves allowed. Four-byte sequences come from no installer but
// are well-formed, so they are accepted and split into halves.
std::optional<std::wstring> decodeUtf8(const std::string& bytes) {
  std::u16string units;
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t n = bytes.size();
  size_t i = 0;
  auto cont = [&](size_t at) { return at < n && (b[at] & 0xC0) == 0x80; };
  while (i < n) {
    unsigned c = b[i];
    if (c < 0x80) {
      units += static_cast<char16_t>(c);
      i += 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
      if (!cont(i + 1)) return std::nullopt;
      units += static_cast<char16_t>(((c & 0x1F) << 6) | (b[i + 1] & 0x3F));
      i += 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      if (!cont(i + 1) || !cont(i + 2)) return std::nullopt;
      unsigned v = ((c & 0x0F) << 12) | ((b[i + 1] & 0x3F) << 6) | (b[i + 2] & 0x3F);
      if (v < 0x800) return std::nullopt;
      units += static_cast<char16_t>(v);
      i += 3;
    } else if (c >= 0xF0 && c <= 0xF4) {
      if (!cont(i + 1) || !cont(i + 2) || !cont(i + 3)) return std::nullopt;
      uint32_t v = ((c & 0x07) << 18) | ((b[i + 1] & 0x3F) << 12) | ((b[i + 2] & 0x3F) << 6) | (b[i + 3] & 0x3F);
      if (v < 0x10000 || v > 0x10FFFF) return std::nullopt;
      v -= 0x10000;
      units += static_cast<char16_t>(0xD800 + (v >> 10));
      units += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
      i += 4;
    } else {
      return std::nullopt;
    }
  }
  return fromUtf16(units);
}

std::optional<std::wstring> decodeValue(const std::string& text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      bytes += ' ';
    } else if (c == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      int hi = hexDigit(text[i + 1]);
      int lo = hexDigit(text[i + 2]);
      if (hi < 0 || lo < 0) return std::nullopt;
      bytes += static_cast<char>((hi << 4) | lo);
      i += 2;
    } else {
      bytes += c;
    }
  }
  return decodeUtf8(bytes);
}

}  // namespace

std::wstring encodeValue(const std::wstring& value) {
  std::wstring out;
  for (char16_t u : text::toUtf16(value)) {
    if (isUnreserved(u)) {
      out += static_cast<wchar_t>(u);
    } else if (u == u' ') {
      out += L'+';
    } else if (u < 0x80) {
      appendEscape(out, u);
    } else if (u < 0x800) {
      appendEscape(out, 0xC0 | (u >> 6));
      appendEscape(out, 0x80 | (u & 0x3F));
    } else {
      appendEscape(out, 0xE0 | (u >> 12));
      appendEscape(out, 0x80 | ((u >> 6) & 0x3F));
      appendEscape(out, 0x80 | (u & 0x3F));
    }
  }
  return out;
}

std::wstring joinParams(const StatParams& params) {
  std::wstring joined;
  for (const auto& [name, value] : params) {
    if (value.empty()) continue;
    if (!joined.empty()) joined += L'&';
    joined += name;
    joined += L'=';
    joined += encodeValue(value);
  }
  return joined;
}

std::string encipherToHex(const std::string& plain) {
  size_t pad = kBlock - plain.size() % kBlock;
  std::string buffer = plain;
  buffer.append(pad, static_cast<char>(pad));
  cipher().encryptEcb(reinterpret_cast<uint8_t*>(&buffer[0]), buffer.size());
  std::string hex;
  hex.reserve(buffer.size() * 2);
  for (unsigned char c : buffer) {
    hex += kLowerHex[c >> 4];
    hex += kLowerHex[c & 0xF];
  }
  return hex;
}

std::wstring buildRequestUrl(const std::wstring& base, const StatParams& params) {
  // After encoding only names can hold anything but ASCII, and names are
  // fixed ASCII words, so narrowing is the whole ANSI conversion.
  std::wstring joined = joinParams(params);
  std::string narrow;
  narrow.reserve(joined.size());
  for (wchar_t c : joined) narrow += static_cast<char>(static_cast<unsigned>(c) < 0x80 ? c : L'?');
  return base + L"?param=" + text::toWide(encipherToHex(narrow));
}

std::optional<std::string> decipherHex(const std::string& hex) {
  if (hex.empty() || hex.size() % (kBlock * 2) != 0) return std::nullopt;
  std::string buffer(hex.size() / 2, '\0');
  for (size_t i = 0; i < buffer.size(); ++i) {
    int hi = hexDigit(hex[2 * i]);
    int lo = hexDigit(hex[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    buffer[i] = static_cast<char>((hi << 4) | lo);
  }
  cipher().decryptEcb(reinterpret_cast<uint8_t*>(&buffer[0]), buffer.size());
  unsigned pad = static_cast<unsigned char>(buffer.back());
  if (pad < 1 || pad > kBlock) return std::nullopt;
  for (size_t i = buffer.size() - pad; i < buffer.size(); ++i) {
    if (static_cast<unsigned char>(buffer[i]) != pad) return std::nullopt;
  }
  buffer.resize(buffer.size() - pad);
  return buffer;
}

std::optional<StatParams> splitParams(const std::string& joined) {
  StatParams params;
  std::set<std::wstring> seen;
  if (joined.empty()) return params;
  for (char c : joined) {
    if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F) return std::nullopt;
  }
  size_t start = 0;
  while (start <= joined.size()) {
    size_t end = joined.find('&', start);
    if (end == std::string::npos) end = joined.size();
    std::string pair = joined.substr(start, end - start);
    size_t eq = pair.find('=');
    if (eq == std::string::npos || eq == 0) return std::nullopt;
    std::wstring name = text::toWide(pair.substr(0, eq));
    auto value = decodeValue(pair.substr(eq + 1));
    if (!value) return std::nullopt;
    if (!seen.insert(name).second) return std::nullopt;
    if (!value->empty()) params.emplace(std::move(name), std::move(*value));
    start = end + 1;
  }
  return params;
}

std::optional<StatParams> decodeParam(const std::string& hex) {
  auto plain = decipherHex(hex);
  if (!plain) return std::nullopt;
  return splitParams(*plain);
}

}  // namespace stats
