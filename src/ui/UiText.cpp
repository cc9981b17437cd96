#include "ui/UiText.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace uitext {

namespace {
bool isHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
}  // namespace

std::wstring cut(const std::wstring& s, size_t capacity) {
  if (capacity == 0) return std::wstring();
  size_t keep = capacity - 1;
  if (s.size() <= keep) return s;
  // A high surrogate at the end of what is kept would lose its partner.
  if (keep > 0 && isHighSurrogate(s[keep - 1])) --keep;
  return s.substr(0, keep);
}

std::wstring formatWith(const std::wstring& format, const std::wstring& argument) {
  std::wstring out;
  out.reserve(format.size() + argument.size());
  bool substituted = false;
  for (size_t i = 0; i < format.size(); ++i) {
    wchar_t c = format[i];
    if (c == L'%' && i + 1 < format.size()) {
      wchar_t n = format[i + 1];
      if (n == L'%') {
        out += L'%';
        ++i;
        continue;
      }
      if (n == L's' && !substituted) {
        out += argument;
        substituted = true;
        ++i;
        continue;
      }
    }
    out += c;
  }
  return out;
}

// Written out by hand: a printf call here pulled about 12 KB of formatting
// into the installer. It gives what "%.1f%%" gives: the value rounded to
// tenths, ties to even, since ten times a float is exact in a double.
std::wstring percentText(float value) {
  double v = static_cast<double>(value);
  if (std::isnan(v)) return L"nan%";
  std::wstring out;
  if (std::signbit(v)) out += L'-';
  v = std::fabs(v);
  if (std::isinf(v)) return out + L"inf%";
  // Decimal digits of the whole number of tenths, least significant first,
  // in base 10^9 limbs: a float's tenths can exceed any integer type.
  int exponent = 0;
  double mantissa = std::frexp(std::nearbyint(v * 10.0), &exponent);
  auto bits = static_cast<uint64_t>(std::ldexp(mantissa, 53));
  exponent -= 53;
  if (exponent < 0) {
    bits >>= -exponent;
    exponent = 0;
  }
  std::vector<uint32_t> limbs;
  for (; bits != 0; bits /= 1000000000u) limbs.push_back(static_cast<uint32_t>(bits % 1000000000u));
  for (; exponent > 0; --exponent) {
    uint32_t carry = 0;
    for (uint32_t& limb : limbs) {
      uint32_t doubled = limb * 2 + carry;
      carry = doubled >= 1000000000u ? 1 : 0;
      limb = doubled - carry * 1000000000u;
    }
    if (carry) limbs.push_back(carry);
  }
  std::wstring digits;
  for (uint32_t limb : limbs) {
    for (int i = 0; i < 9; ++i, limb /= 10) digits += static_cast<wchar_t>(L'0' + limb % 10);
  }
  while (digits.size() > 2 && digits.back() == L'0') digits.pop_back();
  if (digits.size() < 2) digits.resize(2, L'0');
  out.append(digits.rbegin(), digits.rend() - 1);
  out += L'.';
  out += digits.front();
  out += L'%';
  return out;
}

bool isWebAddress(const std::wstring& url) {
  auto startsWith = [&](const wchar_t* prefix) {
    size_t i = 0;
    for (; prefix[i]; ++i) {
      if (i >= url.size()) return false;
      wchar_t c = url[i];
      if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
      if (c != prefix[i]) return false;
    }
    return i < url.size() && url[i] != L'/' && url[i] != L'\\';
  };
  for (wchar_t c : url)
    if (c < 0x20 || c == 0x7f || c == L' ' || c == L'"') return false;
  return startsWith(L"http://") || startsWith(L"https://");
}

std::wstring causeSentence(const failure::Failure& why, const std::function<std::wstring(const wchar_t*)>& lookup) {
  using failure::Cause;
  switch (why.cause) {
    case Cause::kNetwork: return lookup(L"NO_INTERNET_CONNECTION");
    case Cause::kServer: return formatWith(lookup(L"CAUSE_SERVER"), why.subject);
    case Cause::kDamaged: return lookup(L"CAUSE_DAMAGED");
    case Cause::kSignature: return lookup(L"CAUSE_SIGNATURE");
    case Cause::kDiskSpace: return formatWith(lookup(L"NOT_ENOUGH_DISK_SPACE"), std::to_wstring(why.neededMb));
    case Cause::kNotWritable: return formatWith(lookup(L"CAUSE_NOT_WRITABLE"), why.subject);
    case Cause::kInstallDir: return formatWith(lookup(L"CAUSE_INSTALL_DIR"), why.subject);
    case Cause::kRuntime: return lookup(L"CAUSE_RUNTIME");
    case Cause::kNone:
    case Cause::kCancelled:
    case Cause::kAnotherInstaller:
    case Cause::kElevation:
      break;
  }
  return std::wstring();
}

}  // namespace uitext

