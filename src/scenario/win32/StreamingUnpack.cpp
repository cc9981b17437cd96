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
#include "scenario/win32/PackTransport.h"

namespace {

constexpr int kStepMs = 200;
// A download that brings no byte for this long has stalled for good: the
// scenario's own wait for it ends no later.
constexpr int kStallLimitMs = 3600000;

// The download's file as far as it is on disk without a gap from its first
// byte. A read waits, in short steps, until the download has filled the bytes
// it asks for, has ended, or the owner stops it.
class GrowingSource : public ebz::ByteSource {
 public:
  enum class Failure { kNone, kInterrupted, kCutOff, kNoSpace };
  // Judges the pack's first bytes (the key and the LZMA header) as soon as
  // they are read; false stops the unpack with kNoSpace.
  using HeadCheck = std::function<bool(const std::vector<uint8_t>& head)>;
  void setHeadCheck(HeadCheck check) { headCheck_ = std::move(check); }

  GrowingSource(download::FileDownloadOutput& output, const std::wstring& path, const std::wstring& name,
                const std::atomic<bool>& stop, Log* log)
      : output_(output), path_(path), name_(name), stop_(stop), log_(log) {}

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
  // The generation of the file the bytes read so far belong to; 0 before the first.
  unsigned generation() const { return generation_; }

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
      staging_(stagingFor(pack_.target)),
      staged_(staging_) {}

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
  // The check stops reading at the block it refuses, but the download goes on
  // and may begin its file again (another host, the pack changed on the
  // server): the refusal was of bytes the file may no longer hold.
  if (outcome_ == Outcome::kRefused && judgedGeneration_ != 0 &&
      output_->waitForPrefix(0, judgedGeneration_, 0).generation != judgedGeneration_) {
    outcome_ = Outcome::kInterrupted;
    reason_ = L"the download began its file again after the signature refused the bytes it held (" + reason_ + L")";
  }
  return outcome_;
}

void StreamingUnpack::discard() {
  // The held files would keep their folder from going.
  staged_.release();
  if (files::exists(staging_)) files::deleteFolderTree(staging_);
}

unsigned long StreamingUnpack::freshStaging() {
  const unsigned long made = files::makeFreshFolder(staging_);
  if (made == 0) return 0;
  // Something at the path would not go (a link some systems cannot remove
  // as a link, a file in use): it is left alone, and this run stages beside
  // it under a name nobody could have planted beforehand.
  const std::wstring other = stagingFor(pack_.target) + L"-" + files::newGuidText();
  if (log_) {
    log_->warning(L"The staging folder " + staging_ + L" cannot be made afresh (" + Log::errorCodeText(made) +
                  L"); " + pack_.name + L" unpacks into " + other);
  }
  const unsigned long again = files::makeFreshFolder(other);
  if (again != 0) return again;
  staging_ = other;
  staged_.moveTo(other);
  return 0;
}

int StreamingUnpack::unpackWhole(ebz::ByteSource& pack) {
  discard();
  const unsigned long made = freshStaging();
  if (made != 0) {
    if (log_) log_->error(L"Can't make the staging folder " + staging_ + L", " + Log::errorCodeText(made));
    return 1;
  }
  auto sink = staged_.sink(log_);
  ebz::EbzReader reader(packfiles::kSeparator);
  const int unpacked = reader.unpack(pack, *sink, log_);
  if (unpacked != 0) {
    fault_ = sink->fault();
    reason_ = reader.failure();
    discard();
  }
  return unpacked;
}

bool StreamingUnpack::moveInto(const std::wstring& target, std::wstring& blocking) {
  const bool moved = staged_.moveInto(target, blocking, log_);
  moveError_ = moved ? 0 : staged_.firstError();
  discard();
  return moved;
}

void StreamingUnpack::run() {
  std::vector<unsigned char> signature;
  if (verifier_.enabled()) {
    // The signature is of the bytes, not of the host: any mirror's will do.
    const std::vector<std::wstring> sources = pack_.sources.empty() ? std::vector<std::wstring>{pack_.url} : pack_.sources;
    for (size_t i = 0; i < sources.size() && signature.empty() && !stop_.load(); ++i) {
      download::Timing timing = timing_;
      // A host that refuses is not worth the pauses while another is left.
      if (i + 1 < sources.size()) timing.connectRetryPauseMs = 0;
      // No listener: a missing signature is reported once, as the pack's refusal.
      signature = download::downloadToBytes(packtransport::packConnections(), nullptr, pack_.name + L"_sig",
                                            sources[i] + pack_signature::kSignatureSuffix, log_, kSignatureTimeoutMs,
                                            scenario_downloads::kPackId, timing);
    }
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

  GrowingSource download(*output_, pack_.path, pack_.name, stop_, log_);
  // A pack that records what it unpacks to is judged by its first bytes:
  // without the room for it, nothing more of it is worth fetching.
  download.setHeadCheck([this](const std::vector<uint8_t>& head) {
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
  // With a key built in, the decoder gets each block of the pack only after
  // it matched its signed hash: nothing unverified is ever decoded.
  pack_signature::VerifiedSource source(download, check);
  // Made here and now, whatever stood at the path (a link to another folder,
  // a file) removed as such: what the unpack writes lands in a folder of its
  // own making.
  const unsigned long made = freshStaging();
  if (made != 0) {
    outcome_ = Outcome::kDamaged;
    reason_ = L"the staging folder " + staging_ + L" cannot be made, " + Log::errorCodeText(made);
    fault_.code = made;
    fault_.path = staging_;
    if (onWriteFault_) onWriteFault_(fault_);
    return;
  }
  auto sink = staged_.sink(log_);
  ebz::EbzReader reader(packfiles::kSeparator);
  // The reader's own line would blame the pack for what the download did.
  const int unpacked = reader.unpack(source, *sink, nullptr);
  if (download.failure() == GrowingSource::Failure::kNoSpace) {
    outcome_ = Outcome::kDamaged;
    reason_ = download.why();
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
  if (download.failure() == GrowingSource::Failure::kNone && !source.refused()) {
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
  switch (download.failure()) {
    case GrowingSource::Failure::kInterrupted:
      outcome_ = Outcome::kInterrupted;
      reason_ = download.why();
      return;
    case GrowingSource::Failure::kNoSpace:
    case GrowingSource::Failure::kCutOff:
      outcome_ = Outcome::kCutOff;
      reason_ = download.why();
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
  if (!verdict.accepted) {
    judgedGeneration_ = download.generation();
    if (log_) log_->info(L"Unpack of " + pack_.name + L" stopped, its signature check refused it: " + reason_);
  }
}
