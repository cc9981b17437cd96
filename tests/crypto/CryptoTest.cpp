// Published vectors for the pack cipher, the digest and the checksum.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/Blowfish.h"
#include "formats/Crc32.h"
#include "formats/Md5.h"

namespace {

std::vector<uint8_t> fromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string toHex(const uint8_t* p, size_t n) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += kHex[p[i] >> 4];
    s += kHex[p[i] & 15];
  }
  return s;
}

struct BlowfishVector {
  const char* key;
  const char* plain;
  const char* cipher;
};

// The classic ECB set, then variable key lengths over one plain block; the
// packs use ten-byte keys, so that length is among them.
const BlowfishVector kBlowfishVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    {"F0E1D2C3B4", "FEDCBA9876543210", "B39E44481BDB1E6E"},
    {"F0E1D2C3B4A596877869", "FEDCBA9876543210", "122BA70B3AB64AE0"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677", "FEDCBA9876543210", "05044B62FA52D080"},
};

TEST(Blowfish, PublishedVectorsEncryptAndDecrypt) {
  for (const auto& v : kBlowfishVectors) {
    auto key = fromHex(v.key);
    Blowfish cipher(key.data(), key.size());
    auto block = fromHex(v.plain);
    cipher.encryptBlock(block.data());
    EXPECT_EQ(v.cipher, toHex(block.data(), 8)) << "key " << v.key;
    cipher.decryptBlock(block.data());
    EXPECT_EQ(v.plain, toHex(block.data(), 8)) << "key " << v.key;
  }
}

TEST(Blowfish, EcbTreatsBlocksIndependentlyAndLeavesATailAlone) {
  auto key = fromHex("7CA110454A1A6E57");
  Blowfish cipher(key.data(), key.size());
  auto data = fromHex("01A1D6D03977674201A1D6D039776742AABBCC");
  cipher.encryptEcb(data.data(), data.size());
  EXPECT_EQ("59C68245EB05282B59C68245EB05282BAABBCC", toHex(data.data(), data.size()));
  cipher.decryptEcb(data.data(), data.size());
  EXPECT_EQ("01A1D6D03977674201A1D6D039776742AABBCC", toHex(data.data(), data.size()));
}

TEST(Blowfish, EmptyKeyIsUsableAndEqualsOneZeroByte) {
  const uint8_t zero = 0;
  Blowfish empty(nullptr, 0), single(&zero, 1);
  uint8_t a[8] = {1, 2, 3, 4, 5, 6, 7, 8}, b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  empty.encryptBlock(a);
  single.encryptBlock(b);
  EXPECT_EQ(toHex(b, 8), toHex(a, 8));
}

TEST(Md5, Rfc1321Suite) {
  const std::pair<const char*, const char*> suite[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [message, digest] : suite) {
    EXPECT_EQ(digest, md5Hex(message, std::string(message).size())) << '"' << message << '"';
  }
}

TEST(Md5, PiecewiseUpdatesMatchOneShotAcrossBlockBoundaries) {
  std::string message;
  for (int i = 0; i < 300; ++i) message += char('a' + i % 26);
  const std::string whole = md5Hex(message.data(), message.size());
  for (size_t split : {1u, 55u, 56u, 63u, 64u, 65u, 128u, 299u}) {
    Md5 md5;
    md5.update(message.data(), split);
    md5.update(message.data() + split, message.size() - split);
    EXPECT_EQ(whole, md5HexOf(md5.finish())) << "split at " << split;
  }
  Md5 reused;
  reused.update("abc", 3);
  reused.finish();
  reused.update("abc", 3);
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", md5HexOf(reused.finish()));
}

TEST(Crc32, CheckValueAndContinuation) {
  EXPECT_EQ(0xCBF43926u, crc32("123456789", 9));
  EXPECT_EQ(0u, crc32("", 0));
  EXPECT_EQ(0x414FA339u, crc32("The quick brown fox jumps over the lazy dog", 43));
  EXPECT_EQ(crc32("123456789", 9), crc32Update(crc32("1234", 4), "56789", 5));
}

}  // namespace
