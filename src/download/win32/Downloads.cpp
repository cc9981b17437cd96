#include "download/win32/Downloads.h"

#include "download/win32/HttpConnection.h"

namespace download {

std::wstring downloadToFile(IDownloadListener* listener, const std::wstring& name, const std::wstring& url,
                            const std::wstring& path, int id, int threadCount, Log* log, int timeoutMs,
                            uint32_t minValidSize, const std::wstring& expectedMd5, bool followRedirects,
                            const Timing& timing, DownloadFailure* failure) {
  return downloadToFile(winInetConnections(), listener, name, url, path, id, threadCount, log, timeoutMs,
                        minValidSize, expectedMd5, followRedirects, timing, failure);
}

std::wstring downloadToString(IDownloadListener* listener, const std::wstring& name, const std::wstring& url,
                              Log* log, int timeoutMs, int id, bool followRedirects) {
  return downloadToString(winInetConnections(), listener, name, url, log, timeoutMs, id, followRedirects);
}

std::wstring downloadAnswerToString(IDownloadListener* listener, const std::wstring& name, const std::wstring& url,
                                    Log* log, int timeoutMs, int id, bool followRedirects, const Timing& timing) {
  return downloadAnswerToString(winInetConnections(), listener, name, url, log, timeoutMs, id, followRedirects,
                                timing);
}

std::vector<unsigned char> downloadToBytes(IDownloadListener* listener, const std::wstring& name,
                                           const std::wstring& url, Log* log, int timeoutMs, int id) {
  return downloadToBytes(winInetConnections(), listener, name, url, log, timeoutMs, id);
}

}  // namespace download
