#pragma once
// Unpacks a pack while it downloads: a thread of its own reads the file as far
// as the download has filled it from its first byte, deciphers and decodes it
// into a staging folder beside the target, and feeds the same bytes to the
// signature check. Nothing reaches the target until the caller, with the
// download complete and every check passed, moves the staged files in.
//
// Threading: built, started, ended and read by one owner thread (the
// scenario's worker); the unpack thread owns the reader, the sink and the
// check until end() joins it. The output is shared with the download's
// threads through its own lock.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "download/Timing.h"
#include "scenario/PackFiles.h"
#include "scenario/PackSignature.h"
#include "scenario/win32/StagedFiles.h"

class Log;
namespace download {
class FileDownloadOutput;
}

class StreamingUnpack {
 public:
  struct Pack {
    std::wstring name;  // the download's name ("vexa8z")
    const char* kind;   // what the signature must name
    std::wstring url;
    std::wstring path;    // where the download writes it
    std::wstring target;  // the folder it is installed into
    // Where its ".sig" may be fetched from, in order (url and its mirrors);
    // empty: url alone.
    std::vector<std::wstring> sources;
  };
  enum class Outcome {
    kUnpacked,     // whole, decoded to its end and, with a key, verified
    kInterrupted,  // the download's bytes changed under the reader, or it was stopped
    kCutOff,       // the download ended without a complete pack
    kDamaged,      // the pack's stream or entries are unusable
    kRefused,      // the signature turned it down
  };

  StreamingUnpack(Pack pack, std::shared_ptr<download::FileDownloadOutput> output,
                  const pack_signature::PackVerifier& verifier, Log* log, const download::Timing& timing);
  ~StreamingUnpack();
  StreamingUnpack(const StreamingUnpack&) = delete;
  StreamingUnpack& operator=(const StreamingUnpack&) = delete;

  // The staging folder: the target's name with kStagingSuffix, beside it.
  static std::wstring stagingFor(const std::wstring& target);
  static constexpr const wchar_t* kStagingSuffix = L".staging";

  // Clears a staging folder a broken-off run left and starts the thread,
  // which makes the staging folder afresh (see files::makeFreshFolder).
  bool start();
  // Tells the thread that the download will bring no more bytes, joins it and
  // gives its outcome; the staging folder stays for moveInto or discard. A
  // refusal of bytes the download has since fetched again is kInterrupted:
  // the file as it stands is still to be judged.
  Outcome end();
  const std::wstring& reason() const { return reason_; }
  // The staging folder this run uses (after end(); see freshStaging).
  const std::wstring& staging() const { return staging_; }

  // Removes the staging folder and everything in it; so does the destructor.
  // Links in it are removed as links.
  void discard();

  // Told on the unpack thread, at once, when the staging folder cannot take
  // an entry (no space, no access): the owner stops the downloads then,
  // rather than fetch bytes that cannot land. Set before start().
  void setWriteFaultHandler(std::function<void(const packfiles::WriteFault&)> handler) {
    onWriteFault_ = std::move(handler);
  }
  // Why the staging folder refused an entry; read after end().
  const packfiles::WriteFault& writeFault() const { return fault_; }

  // Unpacks a whole pack already held and verified into a fresh staging
  // folder, on the caller's thread (when the streaming unpack could not follow
  // the download). 0 on success, as EbzReader::unpack.
  int unpackWhole(ebz::ByteSource& pack);

  // Moves the files the unpack wrote, and nothing else, into target (see
  // StagedFiles::moveInto), then removes the staging folder. After end().
  bool moveInto(const std::wstring& target, std::wstring& blocking);
  // The system's error code of the move's first failure (0 when none).
  unsigned long moveError() const { return moveError_; }

  // How long one wait for more bytes lasts before a line says so; tests shorten it.
  static int quietLogMs;

 private:
  void run();
  // Makes staging_ afresh, or another folder beside it when that cannot be
  // done; 0 or the system's error code.
  unsigned long freshStaging();

  Pack pack_;
  std::shared_ptr<download::FileDownloadOutput> output_;
  const pack_signature::PackVerifier& verifier_;
  Log* log_;
  download::Timing timing_;
  std::wstring staging_;
  StagedFiles staged_;  // the unpack thread's until joined
  std::atomic<bool> stop_{false};
  std::thread thread_;
  // Written by the thread, read by the owner only after the join.
  Outcome outcome_ = Outcome::kInterrupted;
  std::wstring reason_;
  // The download's generation whose bytes the check refused (0: none read).
  unsigned judgedGeneration_ = 0;
  packfiles::WriteFault fault_;
  unsigned long moveError_ = 0;
  std::function<void(const packfiles::WriteFault&)> onWriteFault_;
};

