#include "scenario/win32/StreamingUnpack.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <system_error>
#include <vector>

#include "app/Log.h"
#include "app/Text.h"
#include "app/win32/Files.h"
#include "download/DownloadManager.h"
#include "download/DownloadOutput.h"
#include "download/win32/HttpConnection.h"
#include "scenario/EbzReader.h"
#include "scenario/PackFiles.h"
#include "scenario/ScenarioDownloads.h"
#include "scenario/win32/PackSignatureCheck.h"

namespace {

constexpr int kStepMs = 200;
// A download that brings no byte for this long has stalled for good: the
// scenario's own wait for it ends no later.
constexpr int kStallLimitMs = 3600000;

// The download's file as far as it is on disk without a gap from its first
// byte. A read waits, in short steps, until the download has filled the bytes
// it asks for, has ended, or the owner stops it. Every byte handed out is fed
// to the signature check on the way.
class GrowingSource : public ebz::ByteSource {
 public:
  enum class Failure { kNone, kInterrupted, kCutOff, kNoSpace };
  // Judges the pack's first bytes (the key and the LZMA header) as soon as
  // they are read; false stops the unpack with kNoSpace.
  using HeadCheck = std::function<bool(const std::vector<uint8_t>& head)>;
  void setHeadCheck(HeadCheck check) { headCheck_ = std::move(check); }

  GrowingSource(download::FileDownloadOutput& output, const std::wstring& path, const std::wstring& name,
                const std::atomic<bool>& stop, pack_signature::StreamingCheck& check, Log* log)
      : output_(output), path_(path), name_(name), stop_(stop), check_(check), log_(log) {}

  bool read(uint8_t* buffer, size_t capacity, size_t& got) override {
    got = 0;
    if (failure_ != Failure::kNone) return false;
    int quietMs = 0;
    bool told = false;
    for (;;) {
      const download::FileDownloadOutput::Prefix prefix = output_.waitForPrefix(offset_, generation_, kStepMs);
      if (generation_ == 0 && prefix.generation != 0) generation_ = prefix.generation;
      if (prefix.generation != generation_) {
        return fail(Failure::kInterrupted, L"the download started its file again");
      }
      // A download still running when the owner stops waiting for it is
      // given up, however fast its bytes come.
      if (!prefix.ended && stop_.load()) return fail(Failure::kCutOff, L"the download did not end in time");
      if (prefix.bytes > offset_) return readAt(buffer, capacity, prefix.bytes, got);
      if (prefix.ended) {
        if (prefix.ok && generation_ != 0) return true;  // the whole pack has been read
        return fail(Failure::kCutOff, L"the download ended without the whole pack");
      }
      quietMs += kStepMs;
      if (!told && quietMs >= StreamingUnpack::quietLogMs && log_) {
        told = true;
        log_->info(L"Unpack of " + name_ + L" waits for byte " + std::to_wstring(offset_) + L" of its download");
      }
      if (quietMs >= kStallLimitMs) return fail(Failure::kCutOff, L"the download brought no bytes for an hour");
    }
  }

  Failure failure() const { return failure_; }
  const std::wstring& why() const { return why_; }

 private:
  bool readAt(uint8_t* buffer, size_t capacity, long long prefix, size_t& got) {
    if (!file_) {
      // Writers stay allowed (the download is one), deleting and renaming do not.
      file_.reset(CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
      if (!file_) {
        return fail(Failure::kInterrupted, L"the pack cannot be opened, " + Log::errorCodeText(GetLastError()));
      }
    }
    long long want = prefix - offset_;
    if (want > static_cast<long long>(capacity)) want = static_cast<long long>(capacity);
    if (want > 0x40000000) want = 0x40000000;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset_);
    at.OffsetHigh = static_cast<DWORD>(offset_ >> 32);
    DWORD n = 0;
    if (!ReadFile(file_.get(), buffer, static_cast<DWORD>(want), &n, &at) || n == 0) {
      return fail(Failure::kInterrupted, L"the pack cannot be read, " + Log::errorCodeText(GetLastError()));
    }
    check_.update(buffer, n);
    if (headCheck_ && head_.size() < ebz::kUnpackedTotalEnd) {
      const size_t take = std::min<size_t>(n, ebz::kUnpackedTotalEnd - head_.size());
      head_.insert(head_.end(), buffer, buffer + take);
      if (head_.size() == ebz::kUnpackedTotalEnd && !headCheck_(head_)) {
        return fail(Failure::kNoSpace, L"the volume has no room for what the pack unpacks to");
      }
    }
    offset_ += n;
    got = n;
    return true;
  }

  bool fail(Failure failure, const std::wstring& why) {
    failure_ = failure;
    why_ = why;
    return false;
  }

  download::FileDownloadOutput& output_;
  const std::wstring& path_;
  const std::wstring& name_;
  const std::atomic<bool>& stop_;
  pack_signature::StreamingCheck& check_;
  Log* log_;
  files::UniqueHandle file_;
  unsigned generation_ = 0;
  long long offset_ = 0;
  Failure failure_ = Failure::kNone;
  std::wstring why_;
  HeadCheck headCheck_;
  std::vector<uint8_t> head_;
};

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Paths of the files below root, relative to it.
void listFiles(const std::wstring& root, const std::wstring& relative, std::vector<std::wstring>& out) {
  const std::wstring folder = relative.empty() ? root : root + L"\\" + relative;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = relative.empty() ? name : relative + L"\\" + name;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      listFiles(root, path, out);
    } else {
      out.push_back(path);
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

}  // namespace

int StreamingUnpack::quietLogMs = 30000;

StreamingUnpack::StreamingUnpack(Pack pack, std::shared_ptr<download::FileDownloadOutput> output,
                                 const pack_signature::PackVerifier& verifier, Log* log,
                                 const download::Timing& timing)
    : pack_(std::move(pack)),
      output_(std::move(output)),
      verifier_(verifier),
      log_(log),
      timing_(timing),
      staging_(stagingFor(pack_.target)) {}

StreamingUnpack::~StreamingUnpack() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
  // Whatever did not move in (a cancel, a failure) must not outlive the run.
  discard();
}

std::wstring StreamingUnpack::stagingFor(const std::wstring& target) {
  std::wstring folder = target;
  while (folder.size() > 1 && isSeparator(folder.back())) folder.pop_back();
  return folder + kStagingSuffix;
}

bool StreamingUnpack::start() {
  discard();
  try {
    thread_ = std::thread(&StreamingUnpack::run, this);
  } catch (const std::system_error&) {
    if (log_) log_->error(L"Can't start the unpack thread of " + pack_.name);
    return false;
  }
  return true;
}

StreamingUnpack::Outcome StreamingUnpack::end() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
  return outcome_;
}

void StreamingUnpack::discard() {
  if (files::exists(staging_)) files::deleteFolderTree(staging_);
}

void StreamingUnpack::run() {
  std::vector<unsigned char> signature;
  if (verifier_.enabled()) {
    // No listener: a missing signature is reported once, as the pack's refusal.
    signature = download::downloadToBytes(download::winInetConnections(), nullptr, pack_.name + L"_sig",
                                          pack_.url + pack_signature::kSignatureSuffix, log_, kSignatureTimeoutMs,
                                          scenario_downloads::kPackId, timing_);
  }
  pack_signature::StreamingCheck check(verifier_, signature, pack_.kind);
  if (!check.needsBytes()) {
    const pack_signature::Verdict early = check.finish();
    if (!early.accepted) {
      outcome_ = Outcome::kRefused;
      reason_ = early.reason;
      return;
    }
  }

  GrowingSource source(*output_, pack_.path, pack_.name, stop_, check, log_);
  // A pack that records what it unpacks to is judged by its first bytes:
  // without the room for it, nothing more of it is worth fetching.
  source.setHeadCheck([this](const std::vector<uint8_t>& head) {
    const std::optional<uint64_t> total = ebz::unpackedTotal(head.data(), head.size());
    uint64_t available = 0;
    if (!total || !packfiles::freeSpace(staging_, available) || *total <= available) return true;
    fault_.code = ERROR_DISK_FULL;
    fault_.noSpace = true;
    fault_.path = staging_ + L"\\" + pack_.name;
    fault_.needed = *total;
    fault_.available = available;
    if (log_) {
      log_->error(L"Can't unpack " + pack_.name + L" into " + staging_ + L": it unpacks to " +
                  std::to_wstring(*total) + L" bytes, the volume has " + std::to_wstring(available) + L" free, " +
                  Log::errorCodeText(ERROR_DISK_FULL));
    }
    return false;
  });
  const unsigned long made = packfiles::createFolderTree(staging_);
  if (made != 0) {
    outcome_ = Outcome::kDamaged;
    reason_ = L"the staging folder " + staging_ + L" cannot be made, " + Log::errorCodeText(made);
    fault_.code = made;
    fault_.path = staging_;
    if (onWriteFault_) onWriteFault_(fault_);
    return;
  }
  auto sink = packfiles::folderSink(staging_, log_);
  ebz::EbzReader reader(packfiles::kSeparator);
  // The reader's own line would blame the pack for what the download did.
  const int unpacked = reader.unpack(source, *sink, nullptr);
  if (source.failure() == GrowingSource::Failure::kNoSpace) {
    outcome_ = Outcome::kDamaged;
    reason_ = source.why();
    if (onWriteFault_) onWriteFault_(fault_);
    return;
  }
  if (sink->fault()) {
    // The disk, not the pack: reading on would only fetch what cannot land.
    fault_ = sink->fault();
    outcome_ = Outcome::kDamaged;
    reason_ = L"the staging folder cannot take " + fault_.path + L", " + Log::errorCodeText(fault_.code);
    if (onWriteFault_) onWriteFault_(fault_);
    return;
  }
  if (source.failure() == GrowingSource::Failure::kNone) {
    // Bytes after the stream's end are signed too, and so are those after
    // the place where a damaged stream stopped: a pack that fails its
    // signature is refused as such, however it decodes. Reading on to the
    // end also waits for the download to finish, so a stream that looked
    // damaged because the download began its file again is found out.
    std::vector<uint8_t> rest(64 * 1024);
    size_t got = 0;
    while (source.read(rest.data(), rest.size(), got) && got != 0) {
    }
  }
  switch (source.failure()) {
    case GrowingSource::Failure::kInterrupted:
      outcome_ = Outcome::kInterrupted;
      reason_ = source.why();
      return;
    case GrowingSource::Failure::kNoSpace:
    case GrowingSource::Failure::kCutOff:
      outcome_ = Outcome::kCutOff;
      reason_ = source.why();
      return;
    case GrowingSource::Failure::kNone:
      break;
  }
  const pack_signature::Verdict verdict = check.finish();
  if (unpacked != 0 && verdict.accepted) {
    outcome_ = Outcome::kDamaged;
    reason_ = reader.failure();
    return;
  }
  outcome_ = verdict.accepted ? Outcome::kUnpacked : Outcome::kRefused;
  reason_ = verdict.reason;
}

bool moveStagedFiles(const std::wstring& staging, const std::wstring& target, std::wstring& blocking, Log* log) {
  std::vector<std::wstring> staged;
  listFiles(staging, std::wstring(), staged);
  for (const std::wstring& relative : staged) {
    const std::wstring destination = target + L"\\" + relative;
    if (files::isFolder(destination)) {
      blocking = destination;
      return false;
    }
    if (!files::isFile(destination)) continue;
    // A file some program holds open cannot be replaced: find that out before
    // anything moves, so the target is not left half new.
    files::UniqueHandle probe(
        CreateFileW(destination.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!probe) {
      if (log) log->error(L"Can't replace " + destination + L", " + Log::errorCodeText(GetLastError()));
      blocking = destination;
      return false;
    }
  }
  bool moved = true;
  for (const std::wstring& relative : staged) {
    const std::wstring from = staging + L"\\" + relative;
    const std::wstring to = target + L"\\" + relative;
    if (packfiles::createFolderTree(text::folderPart(to)) != 0 ||
        !MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
      if (log) log->error(L"Can't move " + from + L" to " + to + L", " + Log::errorCodeText(GetLastError()));
      moved = false;
    }
  }
  files::deleteFolderTree(staging);
  return moved;
}
