#pragma once
// The statistics request: event parameters joined into one query text,
// enciphered and written as hexadecimal. The installer builds requests with
// it; the companion server reads them back with decodeParam. Portable, no
// state: any thread may call anything here.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace stats {

// Ordered by name in plain code-unit order, which is the order the
// request lists them.
using StatParams = std::map<std::wstring, std::wstring>;

// Shared with the statistics endpoint, which deciphers with the same key.
inline constexpr char kCipherKey[] = "R7tKwQ2pLm";

// Query-value form: unreserved characters stay, a blank becomes "+", every
// other UTF-16 code unit becomes the %XX escapes of its own UTF-8 bytes.
std::wstring encodeValue(const std::wstring& value);

// name=value pairs in map order joined with "&"; names are written as they
// are, empty values are left out entirely.
std::wstring joinParams(const StatParams& params);

// Pads to whole blocks (N bytes of N; a whole block of 8s when already
// aligned), enciphers block by block and writes lower-case hexadecimal.
std::string encipherToHex(const std::string& plain);

// base + "?param=" + the enciphered joined parameters.
std::wstring buildRequestUrl(const std::wstring& base, const StatParams& params);

// The inverse of encipherToHex: the plain text with its padding removed, or
// nothing when the hex, the length or the padding is not what a request
// carries.
std::optional<std::string> decipherHex(const std::string& hex);

// Splits a joined text back into parameters. Refuses pairs without "=",
// empty or repeated names, broken escapes, bytes outside printable ASCII and
// escapes that are not UTF-8 (the three-byte form of a lone surrogate half is
// accepted because the encoder writes halves one by one).
std::optional<StatParams> splitParams(const std::string& joined);

// decipherHex followed by splitParams.
std::optional<StatParams> decodeParam(const std::string& hex);

}  // namespace stats
