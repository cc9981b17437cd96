#include "scenario/win32/PackSignatureCheck.h"

#include <windows.h>

#include "app/Log.h"
#include "download/DownloadListener.h"
#include "download/DownloadManager.h"
#include "download/DownloadState.h"
#include "download/win32/HttpConnection.h"
#include "scenario/PackFiles.h"
#include "scenario/PackSignature.h"
#include "scenario/win32/PackTransport.h"

std::shared_ptr<packfiles::PackFile> holdVerifiedPack(const pack_signature::PackVerifier& verifier,
                                                      const std::wstring& name, const char* kind, int id,
                                                      const std::wstring& packUrl, const std::wstring& packPath,
                                                      download::IDownloadListener* listener, Log* log,
                                                      const download::Timing& timing) {
  std::shared_ptr<packfiles::PackFile> pack = packfiles::openPack(packPath, log);
  if (!pack || !verifier.enabled()) return pack;
  const std::wstring signatureUrl = packUrl + pack_signature::kSignatureSuffix;
  // No listener: a missing signature is reported once, as the pack's refusal.
  std::vector<unsigned char> signature =
      download::downloadToBytes(packtransport::packConnections(), nullptr, name + L"_sig", signatureUrl, log,
                                kSignatureTimeoutMs, id, timing);
  pack_signature::Verdict verdict = verifier.verify(*pack, signature, kind);
  if (verdict.accepted && pack->rewind()) {
    if (log) log->info(L"Signature of " + packUrl + L" verified");
    return pack;
  }
  if (verdict.accepted) verdict.reason = L"the pack cannot be read again after its check";
  pack.reset();
  refusePack(name, id, packUrl, packPath, verdict.reason, listener, log);
  return nullptr;
}

void refusePack(const std::wstring& name, int id, const std::wstring& packUrl, const std::wstring& packPath,
                const std::wstring& reason, download::IDownloadListener* listener, Log* log) {
  if (log) log->error(L"Pack " + packUrl + L" refused: " + reason);
  if (!DeleteFileW(packPath.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND && log) {
    log->error(L"Can't delete " + packPath);
  }
  // Nothing of a refused pack may be picked up by a later run.
  DeleteFileW(download::downloadStatePath(packPath).c_str());
  if (listener) listener->onFailed(name, id, pack_signature::kRefusedToken);
}
