// ebztool pack <folder> <out.ebz> [--key <10 ASCII characters>] [--preset <0-9>]
// ebztool unpack <pack> <folder>
// ebztool keygen <secret key file>
// ebztool sign <pack> <secret key file> --kind <kind> [--time <seconds since 1970>]
//
// pack stores every file below the folder under its relative name ("/"
// between folders), records the total the pack unpacks to in its header, with
// a random key unless one is given, compressed at the
// given LZMA preset (default 6; 0 packs large test content in a fraction of
// the time). unpack runs the
// installer's own unpack command and exits with its result ("0" success,
// "1" damaged pack, "2" missing pack), which it also prints.
//
// keygen writes a new Ed25519 secret key (128 hex digits) to the file, its
// public key (64 hex digits, the VEXA_PACK_PUBLIC_KEY build setting) to the
// file + ".pub", and prints the public key. sign writes <pack>.sig, where the
// installer fetches it: the kind the installer will take the file for
// ("vexa8z", "appdata8z", "jreEbz" or "partner"), the signing time (now
// unless --time gives one) and the signature over both and the file's bytes
// (the layout is in scenario/PackSignature.h and the README).
#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "FileSystem.h"
#include "app/Log.h"
#include "app/Text.h"
#include "context/CommandSenderLocal.h"
#include "scenario/Commands.h"
#include "scenario/EbzWriter.h"
#include "scenario/PackFiles.h"
#include "scenario/PackSignature.h"

namespace {

constexpr int kUsage = 64;

int usage() {
  std::fputs("usage: ebztool pack <folder> <out.ebz> [--key <10 ASCII characters>] [--preset <0-9>]\n"
             "       ebztool unpack <pack> <folder>\n"
             "       ebztool keygen <secret key file>\n"
             "       ebztool sign <pack> <secret key file> --kind <vexa8z|appdata8z|jreEbz|partner> [--time <seconds>]\n",
             stderr);
  return kUsage;
}

bool parseKey(const std::wstring& text, ebz::EbzWriter::Key& key) {
  if (text.size() != key.size()) return false;
  for (size_t i = 0; i < key.size(); ++i) {
    if (text[i] < 0x21 || text[i] > 0x7e) return false;
    key[i] = uint8_t(text[i]);
  }
  return true;
}

bool copyInto(ebz::EbzWriter& writer, const std::wstring& path, const std::string& name) {
  toolfs::File in = toolfs::open(path, "rb");
  uint64_t size = 0;
  if (!in || !toolfs::fileSize(in.get(), size) || !writer.beginEntry(name, size)) return false;
  std::vector<char> buffer(1 << 16);
  for (uint64_t left = size; left > 0;) {
    const size_t n = std::fread(buffer.data(), 1, buffer.size(), in.get());
    // A file that shrinks or grows while being packed would break its entry.
    if (n == 0 || n > left || !writer.write(buffer.data(), n)) return false;
    left -= n;
  }
  return std::fgetc(in.get()) == EOF;
}

int pack(const std::wstring& folder, const std::wstring& target, const ebz::EbzWriter::Key& key,
         uint32_t preset) {
  std::vector<std::string> names;
  if (!toolfs::listFiles(folder, names)) {
    std::fprintf(stderr, "ebztool: can't read folder %s\n", text::wideToUtf8(folder).c_str());
    return 1;
  }
  toolfs::File out = toolfs::open(target, "wb");
  if (!out) {
    std::fprintf(stderr, "ebztool: can't create %s\n", text::wideToUtf8(target).c_str());
    return 1;
  }
  // The pack records what it unpacks to, so an installer can check the free
  // space before it fetches the pack and hold the unpack to that figure.
  uint64_t total = 0;
  for (const std::string& name : names) {
    toolfs::File in = toolfs::open(folder + L"/" + text::utf8ToWide(name), "rb");
    uint64_t size = 0;
    if (!in || !toolfs::fileSize(in.get(), size)) {
      std::fprintf(stderr, "ebztool: can't read %s\n", name.c_str());
      return 1;
    }
    total += ebz::EbzWriter::entryBytes(name, size);
  }
  ebz::EbzWriter writer(
      key, [&](const uint8_t* data, size_t size) { return std::fwrite(data, 1, size, out.get()) == size; },
      preset, total);
  for (const std::string& name : names) {
    std::wstring path = folder + L"/" + text::utf8ToWide(name);
    if (!copyInto(writer, path, name)) {
      std::fprintf(stderr, "ebztool: can't pack %s\n", name.c_str());
      return 1;
    }
  }
  if (!writer.finish() || std::fflush(out.get()) != 0) {
    std::fprintf(stderr, "ebztool: can't write %s\n", text::wideToUtf8(target).c_str());
    return 1;
  }
  std::printf("%zu files packed into %s\n", names.size(), text::wideToUtf8(target).c_str());
  return 0;
}

int unpack(const std::wstring& packPath, const std::wstring& folder) {
  Log log(L"ebztool.log");
  CommandSenderLocal sender(&log);
  UnEbzCommand command(packPath + L"|" + folder);
  wchar_t result[256] = L"0";
  sender.send(command, result, 256);
  const std::string text = text::wideToUtf8(result);
  std::printf("%s\n", text.c_str());
  if (text != "0") std::fprintf(stderr, "ebztool: details in %s\n", text::wideToUtf8(log.path()).c_str());
  try {
    return std::stoi(text);
  } catch (...) {
    return 1;
  }
}

bool readFile(const std::wstring& path, std::vector<uint8_t>& out) {
  toolfs::File in = toolfs::open(path, "rb");
  if (!in) return false;
  std::vector<uint8_t> buffer(1 << 16);
  for (size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), in.get())) > 0;) {
    out.insert(out.end(), buffer.begin(), buffer.begin() + n);
  }
  return !std::ferror(in.get());
}

bool writeFile(const std::wstring& path, const void* data, size_t size) {
  toolfs::File out = toolfs::open(path, "wb");
  return out && std::fwrite(data, 1, size, out.get()) == size && std::fflush(out.get()) == 0;
}

int keygen(const std::wstring& secretPath) {
  std::array<uint8_t, pack_signature::kPublicKeySize> publicKey{};
  std::array<uint8_t, pack_signature::kSecretKeySize> secretKey{};
  if (!pack_signature::makeKeyPair(publicKey, secretKey)) {
    std::fputs("ebztool: can't make a key pair\n", stderr);
    return 1;
  }
  const std::string secretHex = pack_signature::toHex(secretKey.data(), secretKey.size()) + "\n";
  const std::string publicHex = pack_signature::toHex(publicKey.data(), publicKey.size());
  const std::string publicLine = publicHex + "\n";
  if (!writeFile(secretPath, secretHex.data(), secretHex.size()) ||
      !writeFile(secretPath + L".pub", publicLine.data(), publicLine.size())) {
    std::fprintf(stderr, "ebztool: can't write %s\n", text::wideToUtf8(secretPath).c_str());
    return 1;
  }
  std::printf("%s\n", publicHex.c_str());
  return 0;
}

int sign(const std::wstring& packPath, const std::wstring& secretPath, const std::string& kind, uint64_t signedAt) {
  std::vector<uint8_t> keyText;
  std::vector<uint8_t> key;
  if (!readFile(secretPath, keyText)) {
    std::fprintf(stderr, "ebztool: can't read %s\n", text::wideToUtf8(secretPath).c_str());
    return 1;
  }
  std::string hex(keyText.begin(), keyText.end());
  while (!hex.empty() && (hex.back() == '\n' || hex.back() == '\r' || hex.back() == ' ')) hex.pop_back();
  if (!pack_signature::fromHex(hex, key) || key.size() != pack_signature::kSecretKeySize) {
    std::fputs("ebztool: the secret key file must hold 128 hex digits (ebztool keygen)\n", stderr);
    return 1;
  }
  std::array<uint8_t, pack_signature::kSecretKeySize> secretKey{};
  std::copy(key.begin(), key.end(), secretKey.begin());
  auto pack = packfiles::openPack(packPath, nullptr);
  if (!pack) {
    std::fprintf(stderr, "ebztool: can't read %s\n", text::wideToUtf8(packPath).c_str());
    return 1;
  }
  std::vector<uint8_t> signature;
  const std::wstring signaturePath = packPath + pack_signature::kSignatureSuffix;
  if (!pack_signature::sign(*pack, kind, signedAt, secretKey, signature) ||
      !writeFile(signaturePath, signature.data(), signature.size())) {
    std::fprintf(stderr, "ebztool: can't sign into %s\n", text::wideToUtf8(signaturePath).c_str());
    return 1;
  }
  std::printf("signed %s (kind %s, time %llu)\n", text::wideToUtf8(signaturePath).c_str(), kind.c_str(),
              static_cast<unsigned long long>(signedAt));
  return 0;
}

// sign's options: --kind is required, so that no file is ever signed without
// saying what it is for.
int signCommand(const std::vector<std::wstring>& args) {
  std::string kind;
  uint64_t signedAt = static_cast<uint64_t>(std::time(nullptr));
  for (size_t i = 3; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) return usage();
    if (args[i] == L"--kind") {
      kind = text::wideToUtf8(args[i + 1]);
    } else if (args[i] == L"--time") {
      const std::string digits = text::wideToUtf8(args[i + 1]);
      if (digits.empty() || digits.size() > 19 || digits.find_first_not_of("0123456789") != std::string::npos) {
        std::fputs("ebztool: the time is decimal seconds since 1970-01-01 UTC\n", stderr);
        return kUsage;
      }
      signedAt = std::stoull(digits);
    } else {
      return usage();
    }
  }
  static const char* const kKinds[] = {pack_signature::kKindProduct, pack_signature::kKindAppdata,
                                       pack_signature::kKindRuntime, pack_signature::kKindPartner};
  if (std::find(std::begin(kKinds), std::end(kKinds), kind) == std::end(kKinds)) {
    std::fputs("ebztool: sign needs --kind vexa8z, appdata8z, jreEbz or partner\n", stderr);
    return kUsage;
  }
  return sign(args[1], args[2], kind, signedAt);
}

int run(const std::vector<std::wstring>& args) {
  if (args.size() == 2 && args[0] == L"keygen") return keygen(args[1]);
  if (args.size() >= 3 && args[0] == L"sign") return signCommand(args);
  if (args.size() >= 3 && args[0] == L"pack") {
    ebz::EbzWriter::Key key = ebz::randomKey();
    uint32_t preset = LZMA_PRESET_DEFAULT;
    for (size_t i = 3; i < args.size(); i += 2) {
      if (i + 1 >= args.size()) return usage();
      if (args[i] == L"--key") {
        if (!parseKey(args[i + 1], key)) {
          std::fputs("ebztool: the key must be 10 printable ASCII characters\n", stderr);
          return kUsage;
        }
      } else if (args[i] == L"--preset") {
        if (args[i + 1].size() != 1 || args[i + 1][0] < L'0' || args[i + 1][0] > L'9') {
          std::fputs("ebztool: the preset is a digit from 0 to 9\n", stderr);
          return kUsage;
        }
        preset = static_cast<uint32_t>(args[i + 1][0] - L'0');
      } else {
        return usage();
      }
    }
    return pack(args[1], args[2], key, preset);
  }
  if (args.size() == 3 && args[0] == L"unpack") return unpack(args[1], args[2]);
  return usage();
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> args(argv + 1, argv + argc);
  return run(args);
}
#else
int main(int argc, char** argv) {
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) args.push_back(text::utf8ToWide(argv[i]));
  return run(args);
}
#endif
