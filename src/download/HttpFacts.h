#pragma once
// Header and address rules of the HTTP client that need no network: kept apart
// from the WinINet code so both builds can test them.
#include <string>

namespace download {

// Only the exact lower-case token counts; "Bytes" means no ranges.
bool acceptsRangesValue(const std::wstring& headerValue);

// Content-Length as an unsigned decimal number in 64 bits, so that a length
// past what a download can hold is seen as such instead of wrapping. Values
// beyond kHugeLength read as kHugeLength; text without leading digits gives 0.
constexpr long long kHugeLength = 1LL << 50;
long long parseContentLength(const std::wstring& headerValue);

// The file name of a Content-Disposition value; empty when none is found (a
// name needs at least two characters).
std::wstring fileNameFromDisposition(const std::wstring& headerValue);

// A Content-Range value "bytes first-last/total" or "bytes */total"; each part
// is -1 when it is missing, unknown ("*") or the value has another form.
struct ContentRange {
  long long first = -1;
  long long last = -1;
  long long total = -1;
};
ContentRange parseContentRange(const std::wstring& headerValue);
// First byte of a Content-Range value; -1 when the value has another form.
long long parseContentRangeStart(const std::wstring& headerValue);

// A GET carries a Range header when the server accepts ranges and the offset is
// not 0, or when a length is given.
bool wantsRangeHeader(bool acceptsRanges, int offset, int length);
// "Range: bytes=<first>-<last>", both taken as unsigned 32-bit numbers.
std::wstring rangeHeader(int offset, int length);

// Statuses whose body is the content asked for: 200, 206, and 0 (a transport
// that does not tell). Anything else is an error page, not the content.
bool isContentStatus(int status);

// 5xx: the server could not answer now; such an answer is tried again after a
// pause. A 4xx is the server's final word and is not.
bool isServerErrorStatus(int status);

// Retry-After as delta-seconds; -1 when the value has another form (an HTTP
// date is not worth a clock comparison here: the usual pause applies).
long long parseRetryAfterSeconds(const std::wstring& headerValue);

// Whether a redirect from one address to another may be followed: only to
// http or https, and never from https down to plain http, which would hand
// the rest of the transfer to anybody on the path.
bool redirectAllowed(const std::wstring& fromUrl, const std::wstring& toUrl);

// The host (and port, as written) of an absolute address; empty without one.
std::wstring hostOfUrl(const std::wstring& url);

// A strong entity tag: a quoted run of visible ASCII characters (no "W/"
// prefix, no blanks, no control characters) of at most kMaxEtagLength. Only
// such a tag is kept across runs and echoed back in If-Range; the check keeps
// a hostile value from carrying anything into a request header.
constexpr size_t kMaxEtagLength = 256;
bool isStrongEtag(const std::wstring& value);

// Only "https" and "HTTPS" start a secure address.
bool isSecureUrl(const std::wstring& url);

// An absolute Location is taken as it is; "//host/...", "/path" and relative
// paths are resolved against the address that answered.
std::wstring resolveLocation(const std::wstring& currentUrl, const std::wstring& location);

// The text after the last '/' or '\' of an address (query included); empty when
// it has neither.
std::wstring fileNameFromUrl(const std::wstring& url);

}  // namespace download
