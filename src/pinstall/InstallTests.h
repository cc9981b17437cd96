#pragma once
// Install tests: the conditions under which a partner offer is not shown
// (its software is already there, the system does not suit it). They arrive
// as JSON text inside the offer, become a flat TestSet of testers, and are
// evaluated once. The testers only read; they change nothing.
//
// The registry, file-system and version questions go through an
// InstallTestSystem, so the logic here (which view is asked when, the
// placeholders, the version table) runs and is tested without Windows. The
// Windows answers live in pinstall/win32/InstallTestSystemWin32.
//
// Threading: a set is built, evaluated and destroyed by one thread.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class Log;

namespace pinstall {

enum class RegRoot { kClassesRoot, kLocalMachine, kUsers, kCurrentUser };
// kDefault is what a 32-bit program sees (redirected on 64-bit Windows);
// k64 asks for the 64-bit registry explicitly.
enum class RegView { kDefault, k64 };
enum class PathKind { kMissing, kFile, kFolder };

class InstallTestSystem {
 public:
  virtual ~InstallTestSystem() = default;
  // The value as text: string and multi-string values as they are, expandable
  // strings expanded, raw bytes taken as text. Empty for a missing key or
  // value, any other type, or a value larger than the 1024-byte buffer.
  virtual std::wstring regText(RegRoot root, const std::wstring& subKey, const std::wstring& name,
                               RegView view) = 0;
  // A DWORD value's number; 0 for a missing key or value and any other type.
  virtual uint32_t regDword(RegRoot root, const std::wstring& subKey, const std::wstring& name,
                            RegView view) = 0;
  // Whether the key opens for reading in the default view.
  virtual bool regKeyOpens(RegRoot root, const std::wstring& subKey) = 0;
  // What the path names, asked with file-system redirection switched off
  // where the system has it (and restored afterwards).
  virtual PathKind pathKind(const std::wstring& path) = 0;
  // "localappdata" and "windir"; empty for any other name.
  virtual std::wstring placeholderFolder(const std::wstring& name) = 0;
  // The system's version check: at least major.minor with at least the
  // given service pack's major number.
  virtual bool versionAtLeast(int major, int minor, int servicePackMajor) = 0;
};

class Tester {
 public:
  virtual ~Tester() = default;
  virtual bool test() = 0;
};

// True when any of its testers is true; remembers which one fired.
class TestSet : public Tester {
 public:
  void add(std::unique_ptr<Tester> tester) { testers_.push_back(std::move(tester)); }
  bool test() override;
  // 0-based among all testers of the set; -1 until a test held.
  int firedIndex() const { return fired_; }
  size_t size() const { return testers_.size(); }

 private:
  std::vector<std::unique_ptr<Tester>> testers_;
  int fired_ = -1;
};

// The value reads as non-empty text in the default view, else in the 64-bit
// view.
class HasRegValueTester : public Tester {
 public:
  HasRegValueTester(InstallTestSystem& system, RegRoot root, std::wstring subKey, std::wstring valueName)
      : system_(system), root_(root), subKey_(std::move(subKey)), valueName_(std::move(valueName)) {}
  bool test() override;

 private:
  InstallTestSystem& system_;
  RegRoot root_;
  std::wstring subKey_, valueName_;
};

// The key opens in the default view; the 64-bit view is not asked.
class HasRegSubKeyTester : public Tester {
 public:
  HasRegSubKeyTester(InstallTestSystem& system, RegRoot root, std::wstring subKey)
      : system_(system), root_(root), subKey_(std::move(subKey)) {}
  bool test() override;

 private:
  InstallTestSystem& system_;
  RegRoot root_;
  std::wstring subKey_;
};

// The DWORD (a missing one counts as 0) differs from the expected value in
// the default view, else in the 64-bit view.
class DWORDNotEq : public Tester {
 public:
  DWORDNotEq(InstallTestSystem& system, RegRoot root, std::wstring subKey, std::wstring valueName,
             int32_t expected)
      : system_(system), root_(root), subKey_(std::move(subKey)), valueName_(std::move(valueName)),
        expected_(expected) {}
  bool test() override;

 private:
  InstallTestSystem& system_;
  RegRoot root_;
  std::wstring subKey_, valueName_;
  int32_t expected_;
};

class FileExistTester : public Tester {
 public:
  FileExistTester(InstallTestSystem& system, std::wstring path) : system_(system), path_(std::move(path)) {}
  bool test() override;

 private:
  InstallTestSystem& system_;
  std::wstring path_;
};

class FolderExistTester : public Tester {
 public:
  FolderExistTester(InstallTestSystem& system, std::wstring path) : system_(system), path_(std::move(path)) {}
  bool test() override;

 private:
  InstallTestSystem& system_;
  std::wstring path_;
};

// True unless the name is one of the version predicates and it holds: an
// unknown name keeps the offer away.
class NotCorrectVersionTester : public Tester {
 public:
  NotCorrectVersionTester(InstallTestSystem& system, std::wstring predicate)
      : system_(system), predicate_(std::move(predicate)) {}
  bool test() override;

 private:
  InstallTestSystem& system_;
  std::wstring predicate_;
};

// Builds the set from the test JSON (an array of objects). Never fails: no
// text or text that does not parse gives an empty set (the latter with an
// ERROR line). The testers keep a reference to system.
std::unique_ptr<TestSet> parseInstallTests(const std::wstring& text, Log* log, InstallTestSystem& system);

// Exact, case-sensitive; any other name (empty included) is the current user.
RegRoot rootKeyFromName(const std::wstring& name);

// "${name}" becomes the folder the system gives for name (nothing for an
// unknown name); a "$" not followed by "{" stays, and so does an unclosed
// "${".
std::wstring expandPathPlaceholders(const std::wstring& path, InstallTestSystem& system);

// Like the runtime library's text-to-long: leading blanks and a sign, digits
// up to the first non-digit, 0 without a number. Saturates at the 32-bit
// limits instead of wrapping.
int32_t textToLong(const std::wstring& text);

}  // namespace pinstall
