// The pack verifier against real Ed25519 key pairs: what it accepts, every
// way a pack or its ".sig" file can be wrong, a kind or time it must refuse,
// and the build without a key.
#include <gtest/gtest.h>

#include <algorithm>

#include "TestFiles.h"
#include "scenario/EbzReader.h"
#include "scenario/EbzWriter.h"
#include "scenario/PackFiles.h"
#include "scenario/PackSignature.h"

namespace ps = pack_signature;

namespace {

constexpr uint64_t kSignedAt = 1796000000;  // late 2026

struct KeyPair {
  std::array<uint8_t, ps::kPublicKeySize> publicKey{};
  std::array<uint8_t, ps::kSecretKeySize> secretKey{};
  std::string publicHex() const { return ps::toHex(publicKey.data(), publicKey.size()); }
};

KeyPair newKeys() {
  KeyPair keys;
  EXPECT_TRUE(ps::makeKeyPair(keys.publicKey, keys.secretKey));
  return keys;
}

std::vector<uint8_t> signatureOf(const std::vector<uint8_t>& pack, const KeyPair& keys,
                                 const std::string& kind = ps::kKindProduct, uint64_t signedAt = kSignedAt) {
  ebz::MemorySource source(pack.data(), pack.size());
  std::vector<uint8_t> file;
  EXPECT_TRUE(ps::sign(source, kind, signedAt, keys.secretKey, file));
  return file;
}

ps::Verdict verifyBytes(const ps::PackVerifier& verifier, const std::vector<uint8_t>& pack,
                        const std::vector<uint8_t>& signature, const std::string& kind = ps::kKindProduct) {
  ebz::MemorySource source(pack.data(), pack.size());
  return verifier.verify(source, signature, kind);
}

// Hands out at most a few bytes per read, as a slow pipe would.
class TricklingSource : public ebz::ByteSource {
 public:
  explicit TricklingSource(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  bool read(uint8_t* buffer, size_t capacity, size_t& got) override {
    got = std::min({capacity, bytes_.size() - offset_, size_t(1 + offset_ % 7)});
    std::copy(bytes_.begin() + offset_, bytes_.begin() + offset_ + got, buffer);
    offset_ += got;
    return true;
  }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t offset_ = 0;
};

class PackSignatureTest : public ::testing::Test {
 protected:
  KeyPair keys_ = newKeys();
  std::vector<uint8_t> pack_ = std::vector<uint8_t>(70000, 0x5a);
  ps::PackVerifier verifier_{keys_.publicHex()};
};

TEST_F(PackSignatureTest, GoodSignatureIsAccepted) {
  ps::Verdict verdict = verifyBytes(verifier_, pack_, signatureOf(pack_, keys_));
  EXPECT_TRUE(verdict.accepted);
  EXPECT_TRUE(verdict.reason.empty());
  // Upper-case hex names the same key.
  std::string upper = keys_.publicHex();
  for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_TRUE(verifyBytes(ps::PackVerifier(upper), pack_, signatureOf(pack_, keys_)).accepted);
}

TEST_F(PackSignatureTest, EveryDamageIsRefusedWithAReason) {
  const std::vector<uint8_t> good = signatureOf(pack_, keys_);

  std::vector<uint8_t> flippedPack = pack_;
  flippedPack[flippedPack.size() / 2] ^= 0x01;
  std::vector<uint8_t> lastBytePack = pack_;
  lastBytePack.back() ^= 0x80;
  std::vector<uint8_t> flippedSignature = good;
  flippedSignature[0] ^= 0x01;
  std::vector<uint8_t> flippedSignatureEnd = good;
  flippedSignatureEnd.back() ^= 0x01;
  std::vector<uint8_t> shortSignature(good.begin(), good.end() - 1);
  std::vector<uint8_t> flippedTime = good;
  flippedTime[ps::kMagicLength + 1 + std::string(ps::kKindProduct).size()] ^= 0x01;
  std::vector<uint8_t> badMagic = good;
  badMagic[0] = 'W';
  std::vector<uint8_t> kindTooLong = good;
  kindTooLong[ps::kMagicLength] = uint8_t(ps::kMaxKindLength + 1);
  std::vector<uint8_t> noKind = good;
  noKind[ps::kMagicLength] = 0;
  std::vector<uint8_t> bareEd25519(good.end() - ps::kSignatureSize, good.end());
  std::vector<uint8_t> longSignature = good;
  longSignature.push_back(0);
  std::vector<uint8_t> otherKeySignature = signatureOf(pack_, newKeys());
  std::vector<uint8_t> truncatedPack(pack_.begin(), pack_.end() - 1);
  std::vector<uint8_t> longerPack = pack_;
  longerPack.push_back(0);
  std::vector<uint8_t> flippedHash = good;
  flippedHash[ps::kMagicLength + 1 + std::string(ps::kKindProduct).size() + 20] ^= 0x01;
  std::vector<uint8_t> flippedLength = good;
  flippedLength[ps::kMagicLength + 1 + std::string(ps::kKindProduct).size() + 8] ^= 0x01;

  struct Case {
    const char* what;
    const std::vector<uint8_t>& pack;
    std::vector<uint8_t> signature;
  } cases[] = {
      {"flipped pack byte", flippedPack, good},
      {"flipped last pack byte", lastBytePack, good},
      {"pack one byte short", truncatedPack, good},
      {"pack one byte long", longerPack, good},
      {"a block hash changed", pack_, flippedHash},
      {"the signed length changed", pack_, flippedLength},
      {"flipped signature byte", pack_, flippedSignature},
      {"flipped last signature byte", pack_, flippedSignatureEnd},
      {"missing signature", pack_, {}},
      {"signature file one byte short", pack_, shortSignature},
      {"signature file one byte long", pack_, longSignature},
      {"signing time changed", pack_, flippedTime},
      {"not the format's magic", pack_, badMagic},
      {"kind length past the limit", pack_, kindTooLong},
      {"kind length 0", pack_, noKind},
      {"a bare 64-byte signature of the old layout", pack_, bareEd25519},
      {"signature of another key", pack_, otherKeySignature},
  };
  for (const Case& c : cases) {
    ps::Verdict verdict = verifyBytes(verifier_, c.pack, c.signature);
    EXPECT_FALSE(verdict.accepted) << c.what;
    EXPECT_FALSE(verdict.reason.empty()) << c.what;
  }
}

TEST_F(PackSignatureTest, WithoutAKeyEveryPackIsAcceptedUnread) {
  ps::PackVerifier none("");
  EXPECT_FALSE(none.enabled());
  EXPECT_TRUE(verifyBytes(none, pack_, {}).accepted);
  EXPECT_TRUE(verifyBytes(none, pack_, {1, 2, 3}, "anything").accepted);
}

TEST_F(PackSignatureTest, ABrokenKeySettingRefusesEverything) {
  const std::vector<uint8_t> good = signatureOf(pack_, keys_);
  const std::string hex = keys_.publicHex();
  for (const std::string& broken : {hex.substr(0, 62), hex + "00", hex.substr(0, 63) + "g", std::string("x")}) {
    ps::PackVerifier verifier(broken);
    EXPECT_TRUE(verifier.enabled()) << broken;
    EXPECT_FALSE(verifyBytes(verifier, pack_, good).accepted) << broken;
  }
}

TEST_F(PackSignatureTest, TheKindAndTheMinimumTimeAreBound) {
  // Each kind's own signature passes only for that kind: a signed runtime
  // pack served as the appdata pack is refused.
  for (const char* kind : {ps::kKindProduct, ps::kKindAppdata, ps::kKindRuntime, ps::kKindPartner}) {
    const std::vector<uint8_t> signature = signatureOf(pack_, keys_, kind);
    EXPECT_TRUE(verifyBytes(verifier_, pack_, signature, kind).accepted) << kind;
  }
  ps::Verdict replayed = verifyBytes(verifier_, pack_, signatureOf(pack_, keys_, ps::kKindRuntime), ps::kKindAppdata);
  EXPECT_FALSE(replayed.accepted);
  EXPECT_EQ(replayed.reason, L"the signature is for a jreEbz pack, not appdata8z");
  EXPECT_FALSE(verifyBytes(verifier_, pack_, signatureOf(pack_, keys_, "vexa8"), ps::kKindProduct).accepted);
  // The kind rides in the signed message: relabelled, it no longer verifies.
  std::vector<uint8_t> relabelled = signatureOf(pack_, keys_, "vexa8y");
  relabelled[ps::kMagicLength + 6] = 'z';
  EXPECT_FALSE(verifyBytes(verifier_, pack_, relabelled, ps::kKindProduct).accepted);

  // A minimum signing time: both sides of it.
  ps::PackVerifier recentOnly(keys_.publicHex(), std::to_string(kSignedAt));
  EXPECT_TRUE(verifyBytes(recentOnly, pack_, signatureOf(pack_, keys_)).accepted);
  ps::Verdict old = verifyBytes(recentOnly, pack_, signatureOf(pack_, keys_, ps::kKindProduct, kSignedAt - 1));
  EXPECT_FALSE(old.accepted);
  EXPECT_NE(old.reason.find(L"before the minimum"), std::wstring::npos);
  // A minimum that is not decimal seconds is a broken build: nothing passes.
  for (const std::string& broken : {std::string("2026-12-01"), std::string("-1"), std::string(" 1")}) {
    ps::PackVerifier verifier(keys_.publicHex(), broken);
    EXPECT_FALSE(verifyBytes(verifier, pack_, signatureOf(pack_, keys_)).accepted) << broken;
  }
}

TEST_F(PackSignatureTest, PacksAreHashedAsTheyStreamFromAnOpenFile) {
  // Short reads split the pack at every odd place; the digest is the same.
  const std::vector<uint8_t> signature = signatureOf(pack_, keys_);
  TricklingSource trickle(pack_);
  EXPECT_TRUE(verifier_.verify(trickle, signature, ps::kKindProduct).accepted);

  testfiles::ScratchDir dir;
  const std::wstring wide = dir.path() + L"/signed-pack.ebz";
  testfiles::writeFile(wide, std::string(pack_.begin(), pack_.end()));
  auto file = packfiles::openPack(wide, nullptr);
  ASSERT_TRUE(file);
  EXPECT_TRUE(verifier_.verify(*file, signature, ps::kKindProduct).accepted);
  // Verified, rewound, and the same handle reads the same bytes again.
  ASSERT_TRUE(file->rewind());
  std::vector<uint8_t> again(pack_.size() + 1);
  size_t got = 0, total = 0;
  while (file->read(again.data() + total, again.size() - total, got) && got != 0) total += got;
  EXPECT_EQ(total, pack_.size());
  std::vector<uint8_t> prefix(pack_.begin(), pack_.begin() + 65536);
  ASSERT_TRUE(file->rewind());
  EXPECT_FALSE(verifier_.verify(*file, signatureOf(prefix, keys_), ps::kKindProduct).accepted);
}

TEST_F(PackSignatureTest, AStreamingCheckJudgesTheBytesItWasFedAndRefusesAShortRead) {
  const std::vector<uint8_t> signature = signatureOf(pack_, keys_);
  ps::StreamingCheck whole(verifier_, signature, ps::kKindProduct);
  ASSERT_TRUE(whole.needsBytes());
  for (size_t at = 0; at < pack_.size(); at += 4093) {
    whole.update(pack_.data() + at, std::min<size_t>(4093, pack_.size() - at));
  }
  EXPECT_TRUE(whole.finish().accepted);

  ps::StreamingCheck cut(verifier_, signature, ps::kKindProduct);
  cut.update(pack_.data(), pack_.size());
  EXPECT_FALSE(cut.finish(false).accepted) << "a reader that could not read to the end";

  // A refusal that needs no pack byte is known before the first one.
  ps::StreamingCheck otherKind(verifier_, signature, ps::kKindAppdata);
  EXPECT_FALSE(otherKind.needsBytes());
  EXPECT_FALSE(otherKind.finish().accepted);
}

TEST_F(PackSignatureTest, SignaturesOfTheFirstLayoutAreRefusedWithTheirReason) {
  std::vector<uint8_t> old = signatureOf(pack_, keys_);
  std::copy(ps::kOldMagic, ps::kOldMagic + ps::kMagicLength, old.begin());
  const ps::Verdict verdict = verifyBytes(verifier_, pack_, old);
  EXPECT_FALSE(verdict.accepted);
  EXPECT_NE(verdict.reason.find(L"VXPKSIG1"), std::wstring::npos);
  EXPECT_NE(verdict.reason.find(L"sign the pack again"), std::wstring::npos);
}

TEST_F(PackSignatureTest, TheFileHoldsOneHashPerMebibyteBlock) {
  for (const size_t size : {size_t(0), size_t(1), size_t(ps::kBlockSize), size_t(ps::kBlockSize) + 1}) {
    const std::vector<uint8_t> pack(size, 7);
    const std::vector<uint8_t> signature = signatureOf(pack, keys_);
    const size_t blocks = (size + ps::kBlockSize - 1) / ps::kBlockSize;
    EXPECT_EQ(signature.size(), ps::kMagicLength + 1 + 6 + 8 + 8 + 4 + blocks * ps::kHashSize + ps::kSignatureSize)
        << size;
    EXPECT_TRUE(verifyBytes(verifier_, pack, signature).accepted) << size;
  }
}

// Counts what the decoder hands on, and keeps nothing.
class CountingSink : public un8z::EntrySink {
 public:
  bool beginEntry(const std::wstring&, uint64_t) override { return true; }
  bool writeBytes(const uint8_t*, size_t size) override {
    bytes += size;
    return true;
  }
  bool endEntry() override { return true; }
  uint64_t bytes = 0;
};

TEST_F(PackSignatureTest, ABlockIsHandedOnOnlyAfterItMatchedItsHash) {
  // Three blocks and a bit; the third is damaged: exactly the first two come out.
  std::vector<uint8_t> pack(3 * ps::kBlockSize + 100);
  for (size_t i = 0; i < pack.size(); ++i) pack[i] = uint8_t(i * 31 + (i >> 12));
  const std::vector<uint8_t> signature = signatureOf(pack, keys_);
  pack[2 * ps::kBlockSize + 5] ^= 0x10;
  TricklingSource trickle(pack);
  ps::StreamingCheck check(verifier_, signature, ps::kKindProduct);
  ps::VerifiedSource verified(trickle, check);
  std::vector<uint8_t> out(100000);
  size_t got = 0, total = 0;
  while (verified.read(out.data(), out.size(), got) && got != 0) total += got;
  EXPECT_TRUE(verified.refused());
  EXPECT_EQ(total, 2 * ps::kBlockSize);
  const ps::Verdict verdict = check.finish();
  EXPECT_FALSE(verdict.accepted);
  EXPECT_EQ(verdict.reason, L"block 2 of the pack does not match its signed hash");

  // Whole and undamaged, every byte comes out, the short last block too.
  pack[2 * ps::kBlockSize + 5] ^= 0x10;
  TricklingSource again(pack);
  ps::StreamingCheck good(verifier_, signature, ps::kKindProduct);
  ps::VerifiedSource whole(again, good);
  total = 0;
  while (whole.read(out.data(), out.size(), got) && got != 0) total += got;
  EXPECT_FALSE(whole.refused());
  EXPECT_EQ(total, pack.size());
  EXPECT_TRUE(good.finish().accepted);
}

TEST_F(PackSignatureTest, AZeroBombWithTheSignatureOfAnotherPackIsRefusedBeforeAnythingIsDecoded) {
  // The bomb: one entry claiming 4 GiB of zeros (its first 64 MiB are enough
  // to show where the decoder stops), served with the genuine signature of
  // another pack.
  std::string bomb;
  const ebz::EbzWriter::Key key = {'Z', 'e', 'r', 'o', 'B', 'o', 'm', 'b', '4', 'G'};
  ebz::EbzWriter writer(key, [&](const uint8_t* d, size_t n) { return bomb.append((const char*)d, n), true; }, 0);
  writer.beginEntry("zeros.bin", 4ull << 30);
  const std::string mebibyte(1 << 20, '\0');
  for (int i = 0; i < 64; ++i) writer.write(mebibyte.data(), mebibyte.size());
  const std::string other = ebz::packInMemory(key, {{"Vexa.exe", "exe"}});
  const std::vector<uint8_t> otherPack(other.begin(), other.end());
  const std::vector<uint8_t> signature = signatureOf(otherPack, keys_);

  ebz::MemorySource source(bomb.data(), bomb.size());
  ps::StreamingCheck check(verifier_, signature, ps::kKindProduct);
  ps::VerifiedSource verified(source, check);
  CountingSink sink;
  ebz::EbzReader reader(L'/');
  EXPECT_EQ(reader.unpack(verified, sink, nullptr), 1);
  EXPECT_TRUE(verified.refused());
  EXPECT_EQ(reader.decodedBytes(), 0u);
  EXPECT_EQ(sink.bytes, 0u);
  EXPECT_FALSE(check.finish().accepted);

  // Without a key the same source hands the bytes on unjudged.
  ps::PackVerifier none("");
  ebz::MemorySource plain(other.data(), other.size());
  ps::StreamingCheck unchecked(none, {}, ps::kKindProduct);
  ps::VerifiedSource passing(plain, unchecked);
  CountingSink small;
  EXPECT_EQ(ebz::EbzReader(L'/').unpack(passing, small, nullptr), 0);
  EXPECT_EQ(small.bytes, 3u);
}

TEST(PackSignatureHex, RoundTripAndRejects) {
  std::vector<uint8_t> out = {9};
  EXPECT_TRUE(ps::fromHex("00ff7fA0", out));
  EXPECT_EQ(out, (std::vector<uint8_t>{0x00, 0xff, 0x7f, 0xa0}));
  EXPECT_EQ(ps::toHex(out.data(), out.size()), "00ff7fa0");
  for (const char* bad : {"0", "0g", "g0", "0 ", "/0", ":0", "@0", "G0", "`0"}) {
    EXPECT_FALSE(ps::fromHex(bad, out)) << bad;
  }
  EXPECT_EQ(out.size(), 4u) << "a failed parse leaves the output alone";
}

}  // namespace
