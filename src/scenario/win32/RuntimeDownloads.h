#pragma once
// The runtime server's two answers: "java.json" into memory and the packed
// runtime into a temporary file.
//
// Threading: called on the runtime thread and, for the parameters, on any
// thread that searches for the private runtime.
#include <memory>
#include <string>

#include "scenario/RuntimeParameters.h"

class Log;
class JreInstallHost;
namespace download {
class IDownloadListener;
}
namespace packfiles {
class PackFile;
}

// The runtime server's default pack address.
std::wstring defaultRuntimePackUrl();

// Fetches "/java.json" (10 s) and applies it to params; a missing or
// unreadable answer leaves them as they are.
void fetchRuntimeParameters(RuntimeParameters& params, Log* log);

// Downloads the pack into a new temporary file with 4 connections, then,
// when that yields no file, once more with 1. The file's path, or empty; with
// a path, held is the pack open (and, with a key built in, verified) for the
// unpack. A failed try leaves no file behind. host may be null (no cancellation).
std::wstring downloadRuntimePack(const std::wstring& url, download::IDownloadListener* listener,
                                 JreInstallHost* host, Log* log, std::shared_ptr<packfiles::PackFile>& held);
