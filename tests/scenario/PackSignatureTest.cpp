// The pack verifier against real Ed25519 key pairs: what it accepts, every
// way a pack or signature can be wrong, and the build without a key.
#include <gtest/gtest.h>

#include "TestFiles.h"
#include "scenario/PackSignature.h"

namespace ps = pack_signature;

namespace {

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

std::vector<uint8_t> signatureOf(const std::vector<uint8_t>& pack, const KeyPair& keys) {
  std::array<uint8_t, ps::kSignatureSize> signature{};
  EXPECT_TRUE(ps::sign(pack, keys.secretKey, signature));
  return {signature.begin(), signature.end()};
}

class PackSignatureTest : public ::testing::Test {
 protected:
  KeyPair keys_ = newKeys();
  std::vector<uint8_t> pack_ = std::vector<uint8_t>(70000, 0x5a);
  ps::PackVerifier verifier_{keys_.publicHex()};
};

TEST_F(PackSignatureTest, GoodSignatureIsAccepted) {
  ps::Verdict verdict = verifier_.verify(pack_, signatureOf(pack_, keys_));
  EXPECT_TRUE(verdict.accepted);
  EXPECT_TRUE(verdict.reason.empty());
  // Upper-case hex names the same key.
  std::string upper = keys_.publicHex();
  for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_TRUE(ps::PackVerifier(upper).verify(pack_, signatureOf(pack_, keys_)).accepted);
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
  std::vector<uint8_t> longSignature = good;
  longSignature.push_back(0);
  std::vector<uint8_t> otherKeySignature = signatureOf(pack_, newKeys());
  std::vector<uint8_t> truncatedPack(pack_.begin(), pack_.end() - 1);

  struct Case {
    const char* what;
    const std::vector<uint8_t>& pack;
    std::vector<uint8_t> signature;
  } cases[] = {
      {"flipped pack byte", flippedPack, good},
      {"flipped last pack byte", lastBytePack, good},
      {"pack one byte short", truncatedPack, good},
      {"flipped signature byte", pack_, flippedSignature},
      {"flipped last signature byte", pack_, flippedSignatureEnd},
      {"missing signature", pack_, {}},
      {"63-byte signature", pack_, shortSignature},
      {"65-byte signature", pack_, longSignature},
      {"signature of another key", pack_, otherKeySignature},
  };
  for (const Case& c : cases) {
    ps::Verdict verdict = verifier_.verify(c.pack, c.signature);
    EXPECT_FALSE(verdict.accepted) << c.what;
    EXPECT_FALSE(verdict.reason.empty()) << c.what;
  }
}

TEST_F(PackSignatureTest, WithoutAKeyEveryPackIsAcceptedUnread) {
  ps::PackVerifier none("");
  EXPECT_FALSE(none.enabled());
  EXPECT_TRUE(none.verify(pack_, {}).accepted);
  EXPECT_TRUE(none.verify(pack_, {1, 2, 3}).accepted);
  // Not even the file is touched.
  EXPECT_TRUE(none.verifyFile(L"/no/such/pack.ebz", {}).accepted);
}

TEST_F(PackSignatureTest, ABrokenKeySettingRefusesEverything) {
  const std::vector<uint8_t> good = signatureOf(pack_, keys_);
  const std::string hex = keys_.publicHex();
  for (const std::string& broken : {hex.substr(0, 62), hex + "00", hex.substr(0, 63) + "g", std::string("x")}) {
    ps::PackVerifier verifier(broken);
    EXPECT_TRUE(verifier.enabled()) << broken;
    EXPECT_FALSE(verifier.verify(pack_, good).accepted) << broken;
  }
}

TEST_F(PackSignatureTest, FilesAreReadWhole) {
  testfiles::ScratchDir dir;
  const std::wstring wide = dir.path() + L"/signed-pack.ebz";
  testfiles::writeFile(wide, std::string(pack_.begin(), pack_.end()));
  EXPECT_TRUE(verifier_.verifyFile(wide, signatureOf(pack_, keys_)).accepted);
  std::vector<uint8_t> prefix(pack_.begin(), pack_.begin() + 65536);
  EXPECT_FALSE(verifier_.verifyFile(wide, signatureOf(prefix, keys_)).accepted);
  testfiles::ScratchDir::removeTree(wide);
  ps::Verdict missing = verifier_.verifyFile(wide, signatureOf(pack_, keys_));
  EXPECT_FALSE(missing.accepted);
  EXPECT_EQ(missing.reason, L"the pack cannot be read");
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
