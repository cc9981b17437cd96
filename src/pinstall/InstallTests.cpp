#include "pinstall/InstallTests.h"

#include <cstdint>

#include "app/Log.h"
#include "formats/Json.h"

namespace pinstall {
namespace {

struct VersionPredicate {
  const wchar_t* name;
  int major, minor, servicePack;
};

const VersionPredicate kVersionPredicates[] = {
    {L"IsWindowsXPSP1OrGreater", 5, 1, 1},    {L"IsWindowsXPSP2OrGreater", 5, 1, 2},
    {L"IsWindowsXPSP3OrGreater", 5, 1, 3},    {L"IsWindowsVistaSP1OrGreater", 6, 0, 1},
    {L"IsWindowsVistaSP2OrGreater", 6, 0, 2}, {L"IsWindows7SP1OrGreater", 6, 1, 1},
    {L"IsWindows8OrGreater", 6, 2, 0},        {L"IsWindows8Point1OrGreater", 6, 3, 0},
    {L"IsWindows10OrGreater", 10, 0, 0},
};

// A member that is missing or not a string reads as empty text.
std::wstring stringMember(const JsonValue& object, const wchar_t* key) {
  const JsonValue* v = object.find(key);
  return v && v->type() == JsonValue::kString ? v->asString() : std::wstring();
}

std::unique_ptr<Tester> makeTester(const JsonValue& testJson, InstallTestSystem& system) {
  std::wstring type = stringMember(testJson, L"type");
  RegRoot root = rootKeyFromName(stringMember(testJson, L"hkey"));
  if (type == L"has_reg_val")
    return std::make_unique<HasRegValueTester>(system, root, stringMember(testJson, L"subKey"),
                                               stringMember(testJson, L"valueName"));
  if (type == L"has_reg_subKey")
    return std::make_unique<HasRegSubKeyTester>(system, root, stringMember(testJson, L"subKey"));
  if (type == L"dword_not_eq")
    return std::make_unique<DWORDNotEq>(system, root, stringMember(testJson, L"subKey"), stringMember(testJson, L"valueName"),
                                        textToLong(stringMember(testJson, L"value")));
  if (type == L"file_exist") return std::make_unique<FileExistTester>(system, stringMember(testJson, L"path"));
  if (type == L"folder_exist") return std::make_unique<FolderExistTester>(system, stringMember(testJson, L"path"));
  if (type == L"not_correct_ver") return std::make_unique<NotCorrectVersionTester>(system, stringMember(testJson, L"ver"));
  return nullptr;
}

}  // namespace

bool TestSet::test() {
  for (size_t i = 0; i < testers_.size(); ++i) {
    if (testers_[i]->test()) {
      fired_ = static_cast<int>(i);
      return true;
    }
  }
  return false;
}

bool HasRegValueTester::test() {
  if (!system_.regText(root_, subKey_, valueName_, RegView::kDefault).empty()) return true;
  return !system_.regText(root_, subKey_, valueName_, RegView::k64).empty();
}

bool HasRegSubKeyTester::test() { return system_.regKeyOpens(root_, subKey_); }

bool DWORDNotEq::test() {
  const uint32_t expected = static_cast<uint32_t>(expected_);
  if (system_.regDword(root_, subKey_, valueName_, RegView::kDefault) != expected) return true;
  return system_.regDword(root_, subKey_, valueName_, RegView::k64) != expected;
}

bool FileExistTester::test() { return system_.pathKind(expandPathPlaceholders(path_, system_)) == PathKind::kFile; }

bool FolderExistTester::test() {
  return system_.pathKind(expandPathPlaceholders(path_, system_)) == PathKind::kFolder;
}

bool NotCorrectVersionTester::test() {
  for (const auto& p : kVersionPredicates) {
    if (predicate_ == p.name && system_.versionAtLeast(p.major, p.minor, p.servicePack)) return false;
  }
  return true;
}

std::unique_ptr<TestSet> parseInstallTests(const std::wstring& text, Log* log, InstallTestSystem& system) {
  auto set = std::make_unique<TestSet>();
  if (text.empty()) return set;
  if (log) log->info(L"Start parse install test json: " + text);
  JsonValue root = parseJson(text);
  if (root.isNull()) {
    if (log) log->error(L"Can't parse install test json");
    return set;
  }
  if (root.type() != JsonValue::kArray) return set;
  for (const JsonValue& element : root.asArray()) {
    if (element.type() != JsonValue::kObject) continue;
    if (auto tester = makeTester(element, system)) set->add(std::move(tester));
  }
  return set;
}

RegRoot rootKeyFromName(const std::wstring& name) {
  if (name == L"HKEY_CLASSES_ROOT") return RegRoot::kClassesRoot;
  if (name == L"HKEY_LOCAL_MACHINE") return RegRoot::kLocalMachine;
  if (name == L"HKEY_USERS") return RegRoot::kUsers;
  return RegRoot::kCurrentUser;
}

std::wstring expandPathPlaceholders(const std::wstring& path, InstallTestSystem& system) {
  std::wstring out;
  size_t i = 0;
  while (i < path.size()) {
    if (path[i] == L'$' && i + 1 < path.size() && path[i + 1] == L'{') {
      size_t close = path.find(L'}', i + 2);
      if (close != std::wstring::npos) {
        out += system.placeholderFolder(path.substr(i + 2, close - i - 2));
        i = close + 1;
        continue;
      }
    }
    out += path[i++];
  }
  return out;
}

int32_t textToLong(const std::wstring& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  int64_t value = 0;
  const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    value = value * 10 + (text[i] - L'0');
    if (value > limit) value = limit;  // the digits keep coming; the value stays pinned
  }
  return static_cast<int32_t>(negative ? -value : value);
}

}  // namespace pinstall
