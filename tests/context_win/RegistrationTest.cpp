// Registration of the installed product with the shell, the start-up list,
// the firewall and "Programs and Features". These tests write to the machine's
// classes and HKEY_LOCAL_MACHINE, so they run only in a throwaway Wine prefix;
// every key and link they touch is removed before and after each test.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <memory>
#include <string>

#include "TestFiles.h"
#include "app/Log.h"
#include "app/win32/Files.h"
#include "app/win32/Registry.h"
#include "context/win32/SystemRegistration.h"
#include "context/win32/VexaInstallContext.h"
#include "pinstall/win32/PinstallContainerComposited.h"

namespace {

const wchar_t kProductKey[] = L"Software\\Vexa";
const wchar_t kUserClasses[] = L"Software\\Classes\\";
const wchar_t kMimeKey[] = L"MIME\\Database\\Content Type\\application/x-bittorrent";
const wchar_t kFileExtsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.torrent";
const wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vexa";
const wchar_t kUnwritableClasses[] = L"Software\\VexaTestUnwritableClasses";
const wchar_t* const kClassKeys[] = {L"Vexa", L".vexa", L".torrent", L"Applications\\Vexa.exe", kMimeKey};

bool keyExists(HKEY root, const std::wstring& key) {
  return static_cast<bool>(registry::RegKey::openRead(root, key));
}

// Distinguishes an empty value from a missing one, which readText cannot.
bool valueExists(HKEY root, const std::wstring& key, const std::wstring& name) {
  registry::RegKey k = registry::RegKey::openRead(root, key);
  return k && RegQueryValueExW(k.get(), name.empty() ? nullptr : name.c_str(), nullptr, nullptr, nullptr,
                               nullptr) == ERROR_SUCCESS;
}

DWORD dwordAt(HKEY root, const std::wstring& key, const std::wstring& name) {
  registry::RegKey k = registry::RegKey::openRead(root, key);
  return registry::readDword(k.get(), name);
}

struct ComRelease {
  void operator()(IUnknown* p) const { p->Release(); }
};
template <class T>
using ComPtr = std::unique_ptr<T, ComRelease>;

struct LinkFields {
  bool loaded = false;
  std::wstring target, workingFolder, description;
};

LinkFields readLink(const std::wstring& path) {
  LinkFields fields;
  IShellLinkW* raw = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&raw))))
    return fields;
  ComPtr<IShellLinkW> link(raw);
  IPersistFile* rawFile = nullptr;
  if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&rawFile)))) return fields;
  ComPtr<IPersistFile> file(rawFile);
  if (FAILED(file->Load(path.c_str(), STGM_READ))) return fields;
  wchar_t buffer[MAX_PATH] = {};
  link->GetPath(buffer, MAX_PATH, nullptr, SLGP_RAWPATH);
  fields.target = buffer;
  buffer[0] = 0;
  link->GetWorkingDirectory(buffer, MAX_PATH);
  fields.workingFolder = buffer;
  buffer[0] = 0;
  link->GetDescription(buffer, MAX_PATH);
  fields.description = buffer;
  fields.loaded = true;
  return fields;
}

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    clean();
    log_path_ = dir_.path() + L"\\reg.log";
    // A long name with a blank has an 8.3 form that differs, so each check
    // below also tells which of the two forms was used.
    folder_ = dir_.path() + L"\\Vexa Program Folder";
    files::createFolderTree(folder_);
  }
  void TearDown() override {
    clean();
    CoUninitialize();
  }

  static void clean() {
    RegDeleteTreeW(HKEY_CURRENT_USER, kProductKey);
    registry::deleteValue(HKEY_CURRENT_USER, registration::kRunKey, registration::kRunValue);
    for (const wchar_t* key : kClassKeys) {
      RegDeleteTreeW(HKEY_CLASSES_ROOT, key);
      RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(kUserClasses) + key).c_str());
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, kFileExtsKey);
    RegDeleteTreeW(HKEY_CURRENT_USER, kUnwritableClasses);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vexa");
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUninstallKey);
    DeleteFileW(registration::desktopShortcutPath().c_str());
    DeleteFileW(registration::startMenuShortcutPath().c_str());
  }

  // A context whose install folder is the scratch folder; every switch off so
  // each test turns on only what it looks at.
  std::unique_ptr<VexaInstallContext> makeContext(Log* log) {
    auto context = std::make_unique<VexaInstallContext>(L"", log);
    context->setOffers(new PinstallContainerComposited(*context, log));
    context->setInstallFolder(folder_);
    context->loadWithWindows = false;
    context->associateTorrentFile = false;
    context->exceptFirewall = false;
    return context;
  }

  std::string logText() { return testfiles::readFile(log_path_); }
  // Position of a whole log line's message, npos when absent.
  size_t lineAt(const std::string& message) { return logText().find(" " + message + "\r\n"); }

  testfiles::ScratchDir dir_;
  std::wstring log_path_;
  std::wstring folder_;
};

}  // namespace

TEST_F(RegistrationTest, OpenCommandQuotesProgramAndArgument) {
  EXPECT_EQ(registration::openCommand(L"C:\\PROGRA~1\\Vexa\\Vexa.exe"), L"\"C:\\PROGRA~1\\Vexa\\Vexa.exe\" \"%1\"");
  EXPECT_EQ(registration::openCommand(L"C:\\Program Files\\Vexa\\Vexa.exe"),
            L"\"C:\\Program Files\\Vexa\\Vexa.exe\" \"%1\"");
}

TEST_F(RegistrationTest, AssociationOnTakesTorrentTypeProtocolAndOpenWithList) {
  Log log = Log::atPath(log_path_);
  auto context = makeContext(&log);
  context->associateTorrentFile = true;
  context->applySettings();
  const std::wstring shortFolder = context->shortInstallFolder();
  ASSERT_NE(shortFolder, folder_) << "the scratch folder should have an 8.3 form";

  const std::wstring open = L"\"" + shortFolder + L"\\Vexa.exe\" \"%1\"";
  EXPECT_EQ(registry::readText(HKEY_CLASSES_ROOT, L"Vexa\\shell\\open\\command", L""), open);
  EXPECT_EQ(registry::readText(HKEY_CLASSES_ROOT, L"Applications\\Vexa.exe\\shell\\open\\command", L""), open);
  EXPECT_EQ(registry::readText(HKEY_CLASSES_ROOT, L"Vexa\\DefaultIcon", L""), shortFolder + L"\\torrent.ico");
  EXPECT_EQ(registry::readText(HKEY_CLASSES_ROOT, L".vexa", L""), L"Vexa");
  EXPECT_EQ(registry::readText(HKEY_CLASSES_ROOT, L".torrent", L""), L"Vexa");
  EXPECT_EQ(registry::readText(HKEY_CLASSES_ROOT, L".torrent", L"Content Type"), L"application/x-bittorrent");
  EXPECT_EQ(registry::readText(HKEY_CLASSES_ROOT, kMimeKey, L"Extension"), L".torrent");
  EXPECT_EQ(registry::readText(HKEY_CLASSES_ROOT, L"Vexa", L""), L"Vexa Download");
  EXPECT_EQ(registry::readText(HKEY_CLASSES_ROOT, L"Vexa\\shell", L""), L"open");
  EXPECT_EQ(registry::readText(HKEY_CLASSES_ROOT, L"Vexa", L"Content Type"), L"application/x-bittorrent");
  EXPECT_TRUE(valueExists(HKEY_CLASSES_ROOT, L"Vexa", L"URL Protocol"));
  EXPECT_TRUE(valueExists(HKEY_CURRENT_USER, L"Software\\Classes\\Vexa", L"URL Protocol"));
  EXPECT_TRUE(valueExists(HKEY_CURRENT_USER, std::wstring(kFileExtsKey) + L"\\OpenWithProgids", L"Vexa"));
  EXPECT_EQ(registry::readText(HKEY_CURRENT_USER, std::wstring(kFileExtsKey) + L"\\OpenWithProgids", L"Vexa"), L"");

  const size_t start = lineAt("Start associate"), torrent = lineAt("associate .torrent file"),
               end = lineAt("End associate");
  ASSERT_NE(start, std::string::npos) << logText();
  ASSERT_NE(torrent, std::string::npos) << logText();
  ASSERT_NE(end, std::string::npos) << logText();
  EXPECT_LT(start, torrent);
  EXPECT_LT(torrent, end);
  EXPECT_EQ(lineAt("Don't associate .torrent files "), std::string::npos);
}

TEST_F(RegistrationTest, AssociationOffKeepsProgIdButLeavesTorrentAlone) {
  Log log = Log::atPath(log_path_);
  auto context = makeContext(&log);
  context->applySettings();
  const std::wstring shortFolder = context->shortInstallFolder();

  EXPECT_EQ(registry::readText(HKEY_CLASSES_ROOT, L"Vexa\\shell\\open\\command", L""),
            L"\"" + shortFolder + L"\\Vexa.exe\" \"%1\"");
  EXPECT_EQ(registry::readText(HKEY_CLASSES_ROOT, L"Vexa\\DefaultIcon", L""), shortFolder + L"\\torrent.ico");
  EXPECT_TRUE(valueExists(HKEY_CLASSES_ROOT, L"Vexa", L"URL Protocol"));
  EXPECT_TRUE(valueExists(HKEY_CURRENT_USER, L"Software\\Classes\\Vexa", L"URL Protocol"));

  EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, L".torrent"));
  EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, L".vexa"));
  EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kMimeKey));
  EXPECT_FALSE(valueExists(HKEY_CLASSES_ROOT, L"Vexa", L""));
  EXPECT_FALSE(valueExists(HKEY_CLASSES_ROOT, L"Vexa", L"Content Type"));
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kFileExtsKey));

  // The trailing blank is part of the line.
  EXPECT_NE(lineAt("Don't associate .torrent files "), std::string::npos) << logText();
  EXPECT_EQ(lineAt("associate .torrent file"), std::string::npos);
  EXPECT_NE(lineAt("End associate"), std::string::npos);
}

TEST_F(RegistrationTest, UnwritableClassesFallBackToUserClassesExceptOpenWith) {
  // A classes root whose key has been deleted refuses every key creation and
  // value, as HKEY_CLASSES_ROOT does for a user without rights to the
  // machine's classes.
  registry::RegKey gone = registry::RegKey::createWritable(HKEY_CURRENT_USER, kUnwritableClasses);
  ASSERT_TRUE(gone);
  ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, kUnwritableClasses), ERROR_SUCCESS);
  Log log = Log::atPath(log_path_);
  registration::associateFileTypes(L"C:\\VEXA~1", true, &log, gone.get());

  const std::wstring user = kUserClasses;
  EXPECT_EQ(registry::readText(HKEY_CURRENT_USER, user + L"Vexa\\shell\\open\\command", L""),
            L"\"C:\\VEXA~1\\Vexa.exe\" \"%1\"");
  EXPECT_EQ(registry::readText(HKEY_CURRENT_USER, user + L"Vexa\\DefaultIcon", L""), L"C:\\VEXA~1\\torrent.ico");
  EXPECT_EQ(registry::readText(HKEY_CURRENT_USER, user + L".torrent", L""), L"Vexa");
  EXPECT_EQ(registry::readText(HKEY_CURRENT_USER, user + L".torrent", L"Content Type"), L"application/x-bittorrent");
  EXPECT_EQ(registry::readText(HKEY_CURRENT_USER, user + L".vexa", L""), L"Vexa");
  EXPECT_EQ(registry::readText(HKEY_CURRENT_USER, user + kMimeKey, L"Extension"), L".torrent");
  EXPECT_EQ(registry::readText(HKEY_CURRENT_USER, user + L"Vexa", L""), L"Vexa Download");
  EXPECT_EQ(registry::readText(HKEY_CURRENT_USER, user + L"Vexa\\shell", L""), L"open");
  EXPECT_TRUE(valueExists(HKEY_CURRENT_USER, user + L"Vexa", L"URL Protocol"));
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, user + L"Applications\\Vexa.exe"));
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kUnwritableClasses));
}

TEST_F(RegistrationTest, StartupEntryFollowsLoadWithWindows) {
  Log log = Log::atPath(log_path_);
  auto context = makeContext(&log);
  context->loadWithWindows = true;
  context->applySettings();
  EXPECT_EQ(registry::readText(HKEY_CURRENT_USER, registration::kRunKey, L"Vexa"),
            context->shortInstallFolder() + L"\\Vexa.exe /MINIMIZED");
  // The context's own values come with the same call.
  EXPECT_TRUE(valueExists(HKEY_CURRENT_USER, kProductKey, L"GUID"));

  context->loadWithWindows = false;
  context->applySettings();
  EXPECT_FALSE(valueExists(HKEY_CURRENT_USER, registration::kRunKey, L"Vexa"));
  // Removing what is not there is no failure and writes nothing back.
  context->applySettings();
  EXPECT_FALSE(valueExists(HKEY_CURRENT_USER, registration::kRunKey, L"Vexa"));

  // Without an 8.3 form the long path must not be split at its blank.
  EXPECT_EQ(registration::startupCommand(L"C:\\VEXA~1"), L"C:\\VEXA~1\\Vexa.exe /MINIMIZED");
  EXPECT_EQ(registration::startupCommand(L"C:\\Program Files\\Vexa"),
            L"\"C:\\Program Files\\Vexa\\Vexa.exe\" /MINIMIZED");
}

TEST_F(RegistrationTest, FirewallCommandOnlyWhenAskedAndItsResultIsLogged) {
  Log log = Log::atPath(log_path_);
  auto context = makeContext(&log);
  context->applySettings();
  EXPECT_EQ(logText().find("FIREWALL_ADD_COMMAND"), std::string::npos);

  context->exceptFirewall = true;
  context->applySettings();
  const std::string text = logText();
  const std::string program = testfiles::narrow(context->shortInstallFolder() + L"\\Vexa.exe");
  const size_t command = text.find(" FIREWALL_ADD_COMMAND:" + program + "\r\n");
  ASSERT_NE(command, std::string::npos) << text;
  const std::string resultLine = "End execute command in CommandSenderLocal, result=";
  const size_t result = text.find(resultLine, command);
  ASSERT_NE(result, std::string::npos) << text;
  // The status is a signed decimal number, whatever the prefix's firewall says.
  const size_t from = result + resultLine.size();
  const std::string status = text.substr(from, text.find("\r\n", from) - from);
  ASSERT_FALSE(status.empty());
  EXPECT_NE(status.find_first_of("0123456789"), std::string::npos) << status;
  EXPECT_EQ(status.find_first_not_of("-0123456789"), std::string::npos) << status;
}

TEST_F(RegistrationTest, ShortcutsExecAndUninstallEntry) {
  Log log = Log::atPath(log_path_);
  auto context = makeContext(&log);
  const std::wstring downloads = dir_.path() + L"\\Vexa Downloads";
  context->storeDownloadFolder(downloads);
  context->createShortcuts();
  const std::wstring longProgram = folder_ + L"\\Vexa.exe";
  const std::wstring shortFolder = context->shortInstallFolder();

  EXPECT_EQ(registry::readText(HKEY_CURRENT_USER, kProductKey, L"exec"), longProgram);

  for (const std::wstring& path : {registration::desktopShortcutPath(), registration::startMenuShortcutPath()}) {
    SCOPED_TRACE(testfiles::narrow(path));
    ASSERT_TRUE(files::isFile(path));
    LinkFields link = readLink(path);
    ASSERT_TRUE(link.loaded);
    EXPECT_EQ(link.target, longProgram);
    EXPECT_EQ(link.workingFolder, downloads);
    EXPECT_EQ(link.description, L"Vexa");
  }

  EXPECT_EQ(registry::readText(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vexa", L"Path"), shortFolder);
  EXPECT_EQ(registry::readText(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName"), L"Vexa");
  EXPECT_EQ(registry::readText(HKEY_LOCAL_MACHINE, kUninstallKey, L"Publisher"), L"Vexa Team");
  EXPECT_EQ(dwordAt(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize"), 30720u);
  EXPECT_EQ(registry::readText(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayIcon"), shortFolder + L"\\Vexa.exe");
  EXPECT_EQ(registry::readText(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString"),
            shortFolder + L"\\uninstall.exe");
  EXPECT_EQ(dwordAt(HKEY_LOCAL_MACHINE, kUninstallKey, L"NoModify"), 1u);
  EXPECT_EQ(dwordAt(HKEY_LOCAL_MACHINE, kUninstallKey, L"NoRepair"), 1u);
  EXPECT_NE(logText().find("AddUninstallInfoCommand:" + testfiles::narrow(shortFolder) + "\r\n"),
            std::string::npos)
      << logText();
}
