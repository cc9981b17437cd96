#pragma once
// Text rules of the user interface. Texts shown in the wizard come partly
// from the server (stage texts, titles, offer labels): they are only ever
// arguments, never formats, and they are cut to their buffers on whole
// characters. Portable: no windows.h.
#include <cstddef>
#include <functional>
#include <string>

#include "context/InstallFailure.h"

namespace uitext {

// The first capacity-1 UTF-16 units of s (the room a buffer of capacity
// units leaves beside its terminator), one unit less when the cut would
// separate a surrogate pair. capacity 0 gives empty.
std::wstring cut(const std::wstring& s, size_t capacity);

// Replaces the first "%s" of format by argument and every "%%" by "%". The
// argument is copied as it stands: a '%' inside it is never interpreted, so
// a server's text cannot act as a format. Other '%' sequences stay.
std::wstring formatWith(const std::wstring& format, const std::wstring& argument);

// True for an address the shell may open from a link: "http://" or
// "https://" (any case) followed by a host. Anything else a server sends
// (a program, a share, another scheme) is never opened.
bool isWebAddress(const std::wstring& url);

// "%0.1f%%" of value: one decimal and a percent sign ("42.5%").
std::wstring percentText(float value);

// The cause's sentence for the failure dialog, from the active string table
// (lookup gives a key's text): the host, folder or megabytes go into it as
// arguments. Empty for causes the dialog does not explain (a cancel).
std::wstring causeSentence(const failure::Failure& why, const std::function<std::wstring(const wchar_t*)>& lookup);

}  // namespace uitext
