#pragma once
// The synchronous downloads of the installer over WinINet. Each builds a
// DownloadManager with one output and waits at most timeoutMs.
#include <cstdint>
#include <string>
#include <vector>

#include "download/DownloadManager.h"

namespace download {

// The full path of the downloaded file, or empty on failure.
std::wstring downloadToFile(IDownloadListener* listener, const std::wstring& name, const std::wstring& url,
                            const std::wstring& path, int id, int threadCount, Log* log, int timeoutMs,
                            uint32_t minValidSize, const std::wstring& expectedMd5, bool followRedirects,
                            const Timing& timing = Timing(), DownloadFailure* failure = nullptr);

// The body decoded from UTF-8; empty on failure.
std::wstring downloadToString(IDownloadListener* listener, const std::wstring& name, const std::wstring& url,
                              Log* log, int timeoutMs, int id, bool followRedirects);

// The statistics endpoint's answer, read whatever its HTTP status; empty on failure.
std::wstring downloadAnswerToString(IDownloadListener* listener, const std::wstring& name, const std::wstring& url,
                                    Log* log, int timeoutMs, int id, bool followRedirects,
                                    const Timing& timing = Timing());

// The body's bytes; empty when nothing was received or the download failed.
// Redirects are followed.
std::vector<unsigned char> downloadToBytes(IDownloadListener* listener, const std::wstring& name,
                                           const std::wstring& url, Log* log, int timeoutMs, int id);

}  // namespace download
