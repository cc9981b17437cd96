// Reads the resources back out of a program linked like the installer, with
// the same calls the installer makes, and checks what its windows, its Java
// probe and the shell depend on.
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>
#include <objidl.h>  // GDI+ needs it, and the lean windows.h leaves it out
#include <gdiplus.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "app/StringTable.h"
#include "app/win32/Resources.h"

namespace {

// A resource's own bytes, as the installer reads them (text ones are stored
// packed).
std::string resourceBytes(int id, const wchar_t* type) {
  std::string bytes;
  resources::read(id, type, bytes);
  return bytes;
}

StringTable loadTable(int id, int languageId) {
  std::string bytes = resourceBytes(id, L"i18n");
  return StringTable::build(bytes.data(), bytes.size(), languageId);
}

// The keys the installer looks up, with the English texts its windows are
// laid out for.
const std::map<std::wstring, std::wstring>& installerTexts() {
  static const std::map<std::wstring, std::wstring> texts = {
      {L"CANCEL", L"Cancel"},
      {L"OK", L"Finish"},
      {L"NEXT", L"Next >"},
      {L"BACK", L"< Back"},
      {L"CLOSE", L"Close"},
      {L"USER_LICENSE", L"License agreement"},
      {L"USER_LICENSE_PREFIX", L"By clicking \"Finish\", you agree to"},
      {L"INFORMATION", L"Information"},
      {L"CANNOT_INSTALL_JAVA", L"Unable to install Java (32 bit), try to install it manually"},
      {L"QUICK_INSTALLATION", L"quick installation"},
      {L"EXTENDED_INSTALLATION", L"extended"},
      {L"INSTALLATION", L"Installation"},
      {L"FULL_INSTALL_RECOMEND", L"Full Install (recommended)"},
      {L"CUSTOM_SETTINGS", L"Configuring"},
      {L"CHECK_JAVA", L"Installing Java %s"},
      {L"DOWNLOADING", L"Downloading %s %%s"},
      {L"INSTALLING", L"Installing %s"},
      {L"STARTING_PLAYBACK", L"Launch playback"},
      {L"START_DOWNLOADING", L"Start downloading"},
      {L"LAUNCH_ON_WINDOWS_STARTUP", L"Start %s when Windows starts"},
      {L"OPEN_TORRENT_VIA_VEXA", L"Open .torrent files in Vexa"},
      {L"ADD_FIREWALL_EXCEPTION", L"Add firewall exception"},
      {L"INSTALLER_RUNNING_ALREADY", L"The installer is already running"},
      {L"PREPARE_TO_PLAY", L"Preparing for playback"},
      {L"PREPARE_TO_DOWNLOAD", L"Preparing for download"},
      {L"PREPARE_TO_WATCH", L"Preparing for playback"},
      {L"ERROR_INSTALLATION",
       L"There was a problem when installing the Vexa. The standard solution to this problem you can see here"},
  };
  return texts;
}

// The placeholders in order: the callers format these texts with
// swprintf-style calls, so a translation must take the same arguments.
std::vector<std::wstring> placeholders(const std::wstring& text) {
  static const std::wregex re(L"%(%|[-+ #0-9.]*[a-zA-Z])");
  std::vector<std::wstring> out;
  for (std::wsregex_iterator it(text.begin(), text.end(), re), end; it != end; ++it) out.push_back(it->str());
  return out;
}

std::string utf8(const std::wstring& text) {
  std::string out(text.size() * 3, '\0');
  out.resize(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                                     out.data(), static_cast<int>(out.size()), nullptr, nullptr)));
  return out;
}

bool hasCyrillic(const std::wstring& text) {
  return std::any_of(text.begin(), text.end(), [](wchar_t c) { return c >= 0x0400 && c <= 0x04FF; });
}

bool hasAnyOf(const std::wstring& text, const wchar_t* letters) {
  return text.find_first_of(letters) != std::wstring::npos;
}

constexpr int kRussian = 0x0419;
constexpr int kEnglish = 0x0409;
constexpr int kUkrainian = 0x0422;

TEST(StringTableResources, EnglishTableHoldsEveryInstallerText) {
  StringTable en = loadTable(StringTable::resourceIdForLanguage(kEnglish), kEnglish);
  ASSERT_GT(en.size(), 0u) << "resource 104 of type i18n missing or empty";
  for (const auto& [key, text] : installerTexts()) EXPECT_EQ(en.lookup(key), text) << std::string(key.begin(), key.end());
  // Other tools define CANCEL and DOWNLOADING again further down; the
  // installer's lines must come first.
  EXPECT_EQ(en.lookup(L"DOWNLOADING"), L"Downloading %s %%s");
  EXPECT_EQ(en.lookup(L"CANCEL"), L"Cancel");
  EXPECT_EQ(en.lookup(L"JAVA_NOT_FOUND_INSTALL").find(L"Java"), 0u);
}

struct Translation {
  const char* name;
  int languageId;
  const wchar_t* ownLetters;    // letters only this language uses
  const wchar_t* otherLetters;  // letters only the other one uses
};

void PrintTo(const Translation& t, std::ostream* os) { *os << t.name; }

class TranslatedTable : public ::testing::TestWithParam<Translation> {};

TEST_P(TranslatedTable, TranslatesEveryInstallerTextWithTheSameArguments) {
  const Translation& t = GetParam();
  StringTable table = loadTable(StringTable::resourceIdForLanguage(t.languageId), t.languageId);
  ASSERT_GT(table.size(), 0u);
  std::wstring all;
  for (const auto& [key, english] : installerTexts()) {
    std::wstring text = table.lookup(key);
    std::string name(key.begin(), key.end());
    EXPECT_NE(text, key) << name << " missing";
    EXPECT_TRUE(hasCyrillic(text)) << name << " not translated";
    EXPECT_EQ(placeholders(text), placeholders(english)) << name;
    all += text;
  }
  // Catches tables compiled under each other's ids.
  EXPECT_TRUE(hasAnyOf(all, t.ownLetters)) << t.name;
  EXPECT_FALSE(hasAnyOf(all, t.otherLetters)) << t.name;
}

INSTANTIATE_TEST_SUITE_P(Languages, TranslatedTable,
                         ::testing::Values(Translation{"ru", kRussian, L"ыэъё", L"іїєґ"},
                                           Translation{"uk", kUkrainian, L"іїєґ", L"ыэъё"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StringTableResources, TablesCarryTheSameKeysExceptTheUkrainianJavaHint) {
  StringTable ru = loadTable(103, kRussian);
  StringTable en = loadTable(104, kEnglish);
  StringTable uk = loadTable(105, kUkrainian);
  EXPECT_GE(en.size(), 100u);
  EXPECT_EQ(ru.size(), en.size());
  EXPECT_EQ(uk.size() + 1, en.size());
  EXPECT_EQ(uk.lookup(L"JAVA_NOT_FOUND_INSTALL"), L"JAVA_NOT_FOUND_INSTALL");
  EXPECT_NE(ru.lookup(L"JAVA_NOT_FOUND_INSTALL"), L"JAVA_NOT_FOUND_INSTALL");
  EXPECT_NE(en.lookup(L"JAVA_NOT_FOUND_INSTALL"), L"JAVA_NOT_FOUND_INSTALL");
}

TEST(StringTableResources, TablesAreUtf8WithByteOrderMark) {
  for (int id : {103, 104, 105}) {
    std::string bytes = resourceBytes(id, L"i18n");
    ASSERT_GE(bytes.size(), 3u) << id;
    EXPECT_EQ(bytes.compare(0, 3, "\xEF\xBB\xBF"), 0) << id;
    int wide = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                                   nullptr, 0);
    EXPECT_GT(wide, 0) << id << ": not valid UTF-8";
  }
}

// --- Pictures -----------------------------------------------------------------

struct PngSize {
  uint32_t width = 0, height = 0;
};

uint32_t bigEndian(const std::string& s, size_t at) {
  auto b = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(s[at + i])); };
  return b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
}

PngSize ihdrSize(const std::string& png) {
  if (png.size() < 33 || png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || png.compare(12, 4, "IHDR") != 0) return {};
  return {bigEndian(png, 16), bigEndian(png, 20)};
}

class GdiPlus : public ::testing::Test {
 protected:
  void SetUp() override {
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
  }
  void TearDown() override {
    if (token_) Gdiplus::GdiplusShutdown(token_);
  }

  // Decodes the way the picture widget does: bytes in movable global
  // memory, a stream over it, a GDI+ bitmap from the stream.
  std::unique_ptr<Gdiplus::Bitmap> decode(const std::string& bytes) {
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    if (!mem) return nullptr;
    memcpy(GlobalLock(mem), bytes.data(), bytes.size());
    GlobalUnlock(mem);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(mem, TRUE, &stream))) {
      GlobalFree(mem);
      return nullptr;
    }
    std::unique_ptr<Gdiplus::Bitmap> bmp(Gdiplus::Bitmap::FromStream(stream));
    stream->Release();
    if (bmp && bmp->GetLastStatus() != Gdiplus::Ok) bmp.reset();
    return bmp;
  }

  ULONG_PTR token_ = 0;
};

TEST_F(GdiPlus, CheckMarkIsAGreenTickOnTransparentGround) {
  std::string png = resourceBytes(130, L"img");
  PngSize size = ihdrSize(png);
  EXPECT_EQ(size.width, 9u);
  EXPECT_EQ(size.height, 11u);
  auto bmp = decode(png);
  ASSERT_TRUE(bmp) << "GDI+ cannot decode picture 130";
  ASSERT_EQ(bmp->GetWidth(), 9u);
  ASSERT_EQ(bmp->GetHeight(), 11u);
  Gdiplus::Color corner, c;
  bmp->GetPixel(0, 0, &corner);
  EXPECT_EQ(corner.GetA(), 0) << "the stage item's background must show through";
  int solidGreen = 0;
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 9; ++x) {
      bmp->GetPixel(x, y, &c);
      if (c.GetA() == 255 && c.GetG() > c.GetR() && c.GetG() > c.GetB()) ++solidGreen;
    }
  EXPECT_GE(solidGreen, 8);
}

TEST_F(GdiPlus, PosterFillsItsPlaceOpaquely) {
  std::string png = resourceBytes(135, L"img");
  PngSize size = ihdrSize(png);
  EXPECT_EQ(size.width, 173u);
  EXPECT_EQ(size.height, 241u);
  auto bmp = decode(png);
  ASSERT_TRUE(bmp) << "GDI+ cannot decode picture 135";
  ASSERT_EQ(bmp->GetWidth(), 173u);
  ASSERT_EQ(bmp->GetHeight(), 241u);
  Gdiplus::Color c;
  for (auto [x, y] : {std::pair{0, 0}, {172, 240}, {86, 100}}) {
    bmp->GetPixel(x, y, &c);
    EXPECT_EQ(c.GetA(), 255) << x << "," << y;
  }
}

// --- Helper archive and licences ---------------------------------------------------

TEST(HelperArchive, IsAZipHoldingTheArchitectureProbe) {
  std::string jar = resourceBytes(174, L"jar");
  ASSERT_GT(jar.size(), 22u) << "resource 174 of type jar missing";
  EXPECT_EQ(jar.compare(0, 4, "PK\x03\x04"), 0);
  // The installer searches the raw bytes for this name before running it.
  EXPECT_NE(jar.find("ru/dravimol/core/JavaArch.class"), std::string::npos);
  // A complete archive ends with its central directory.
  EXPECT_NE(jar.rfind("PK\x05\x06"), std::string::npos);
}

struct Licence {
  int id;
  const char* name;
  bool cyrillic;
  const wchar_t* title;
};

struct RtfSource {
  const std::string* bytes;
  size_t offset;
};

DWORD CALLBACK readRtf(DWORD_PTR cookie, LPBYTE buffer, LONG want, LONG* got) {
  auto* source = reinterpret_cast<RtfSource*>(cookie);
  size_t n = std::min<size_t>(static_cast<size_t>(want), source->bytes->size() - source->offset);
  memcpy(buffer, source->bytes->data() + source->offset, n);
  source->offset += n;
  *got = static_cast<LONG>(n);
  return 0;
}

// What the licence window's rich-edit control makes of the document.
std::wstring renderedText(const std::string& rtf) {
  if (!LoadLibraryW(L"riched20.dll")) return L"<no riched20.dll>";
  HWND edit = CreateWindowExW(0, L"RichEdit20W", L"", WS_POPUP | ES_MULTILINE | ES_READONLY, 0, 0, 580, 522,
                              nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!edit) return {};
  RtfSource source{&rtf, 0};
  EDITSTREAM stream{};
  stream.dwCookie = reinterpret_cast<DWORD_PTR>(&source);
  stream.pfnCallback = readRtf;
  SendMessageW(edit, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
  DestroyWindow(edit);
  return text;
}

void PrintTo(const Licence& l, std::ostream* os) { *os << l.name; }

class LicenceResource : public ::testing::TestWithParam<Licence> {};

TEST_P(LicenceResource, IsAWellFormedAsciiRtfDocument) {
  const Licence& l = GetParam();
  std::string rtf = resourceBytes(l.id, L"lic");
  ASSERT_FALSE(rtf.empty()) << "resource " << l.id << " of type lic missing";
  EXPECT_EQ(rtf.compare(0, 5, "{\\rtf"), 0);
  EXPECT_TRUE(std::all_of(rtf.begin(), rtf.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }));
  // Braces must balance (escaped ones aside), or the rich-edit control shows
  // a truncated or empty text.
  int depth = 0, lowest = 1;
  for (size_t i = 0; i < rtf.size(); ++i) {
    if (rtf[i] == '\\') {
      ++i;
      continue;
    }
    if (rtf[i] == '{') ++depth;
    if (rtf[i] == '}') lowest = std::min(lowest, --depth);
    if (depth == 0 && i + 1 < rtf.size()) {
      EXPECT_EQ(rtf.find_first_not_of("\r\n", i + 1), std::string::npos) << "text after the document's end";
      break;
    }
  }
  EXPECT_EQ(depth, 0);
  EXPECT_GE(lowest, 0);
  EXPECT_NE(rtf.find("Vexa Team"), std::string::npos);
  // Cyrillic letters travel as \uN? escapes (U+0400..U+04FF = 1024..1279).
  EXPECT_EQ(std::regex_search(rtf, std::regex("\\\\u1[012][0-9][0-9]\\?")), l.cyrillic);
}

TEST_P(LicenceResource, RendersAsTextInTheRichEditControl) {
  const Licence& l = GetParam();
  std::wstring text = renderedText(resourceBytes(l.id, L"lic"));
  // Headless Wine (no display) cannot create windows; under xvfb-run it can.
  if (text.empty()) GTEST_SKIP() << "no window could be created here";
  EXPECT_EQ(text.find(l.title), 0u) << "licence " << l.name << " reads: " << utf8(text.substr(0, 80));
  EXPECT_NE(text.find(L"Vexa Team"), std::wstring::npos);
  EXPECT_EQ(hasCyrillic(text), l.cyrillic);
  // A fallback "?" would mean an escape was not understood.
  EXPECT_EQ(text.find(L'?'), std::wstring::npos);
  EXPECT_EQ(text.find(L'\\'), std::wstring::npos) << "markup shown as text";
}

INSTANTIATE_TEST_SUITE_P(Languages, LicenceResource,
                         ::testing::Values(Licence{106, "ru", true, L"Лицензионное соглашение"},
                                           Licence{107, "en", false, L"Vexa End-User License Agreement"},
                                           Licence{108, "uk", true, L"Ліцензійна угода"}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Icons and manifest -------------------------------------------------------------

TEST(ShellResources, IconsLoadInTheWindowClassSizes) {
  for (auto [id, size] : {std::pair{101, 32}, {101, 16}, {102, 16}}) {
    HICON icon = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0));
    ASSERT_NE(icon, nullptr) << "icon " << id << " at " << size;
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP bm{};
    GetObjectW(info.hbmColor, sizeof bm, &bm);
    EXPECT_EQ(bm.bmWidth, size) << id;
    EXPECT_EQ(bm.bmHeight, size) << id;
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
  }
}

TEST(ShellResources, ManifestDeclaresSystemsControlsAndNoElevation) {
  std::string manifest = resourceBytes(1, MAKEINTRESOURCEW(24));
  ASSERT_FALSE(manifest.empty()) << "no application manifest";
  for (const char* id : {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                         "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                         "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
    EXPECT_NE(manifest.find(id), std::string::npos) << "supportedOS " << id;
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
}

TEST(ShellResources, ManifestRedirectsToCommonControlsSix) {
  // The loader applies the manifest at start; its dependency must resolve
  // to an assembly that redirects comctl32.dll, or the wizard's controls are
  // the unthemed version 5 ones.
  ACTCTX_SECTION_KEYED_DATA data{};
  data.cbSize = sizeof data;
  ASSERT_TRUE(FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, L"comctl32.dll", &data))
      << "error " << GetLastError();
  HANDLE context = nullptr;
  ASSERT_TRUE(GetCurrentActCtx(&context));
  std::vector<char> buffer(4096);
  SIZE_T needed = 0;
  ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION* assembly = nullptr;
  // Assembly 1 is the program itself; the common controls follow.
  bool found = false;
  for (DWORD index = 2; !found; ++index) {
    if (!QueryActCtxW(0, context, &index, AssemblyDetailedInformationInActivationContext, buffer.data(),
                      buffer.size(), &needed))
      break;
    assembly = reinterpret_cast<ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(buffer.data());
    std::wstring identity(assembly->lpAssemblyEncodedAssemblyIdentity,
                          assembly->ulEncodedAssemblyIdentityLength / sizeof(wchar_t));
    found = identity.find(L"Microsoft.Windows.Common-Controls") != std::wstring::npos &&
            identity.find(L"version=\"6.") != std::wstring::npos;
    if (!found) ADD_FAILURE() << "unexpected assembly " << std::string(identity.begin(), identity.end());
  }
  EXPECT_TRUE(found);
  ReleaseActCtx(context);
}

}  // namespace
