// ebztool pack <folder> <out.ebz> [--key <10 ASCII characters>]
// ebztool unpack <pack> <folder>
//
// pack stores every file below the folder under its relative name ("/"
// between folders) with a random key unless one is given. unpack runs the
// installer's own unpack command and exits with its result ("0" success,
// "1" damaged pack, "2" missing pack), which it also prints.
#include <cstdio>
#include <string>
#include <vector>

#include "FileSystem.h"
#include "app/Log.h"
#include "app/Text.h"
#include "scenario/CommandSenderLocal.h"
#include "scenario/Commands.h"
#include "scenario/EbzWriter.h"

namespace {

constexpr int kUsage = 64;

int usage() {
  std::fputs("usage: ebztool pack <folder> <out.ebz> [--key <10 ASCII characters>]\n"
             "       ebztool unpack <pack> <folder>\n",
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

int pack(const std::wstring& folder, const std::wstring& target, const ebz::EbzWriter::Key& key) {
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
  ebz::EbzWriter writer(key, [&](const uint8_t* data, size_t size) {
    return std::fwrite(data, 1, size, out.get()) == size;
  });
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

int run(const std::vector<std::wstring>& args) {
  if (args.size() >= 3 && args[0] == L"pack") {
    ebz::EbzWriter::Key key = ebz::randomKey();
    if (args.size() == 5 && args[3] == L"--key") {
      if (!parseKey(args[4], key)) {
        std::fputs("ebztool: the key must be 10 printable ASCII characters\n", stderr);
        return kUsage;
      }
    } else if (args.size() != 3) {
      return usage();
    }
    return pack(args[1], args[2], key);
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
