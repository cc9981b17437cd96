#pragma once
// The user's identifiers reported with every statistics event: the
// installer family's own "i_user_id", the server-assigned "s_user_id", and
// the "guid" list other programs of the family left in the registry.
//
// Threading: built on the main thread; the tail and the server's answer are
// applied on the statistics thread while other threads may read the ids.
#include <string>

class Log;

class UserIdentity {
 public:
  enum State { kUndecided = 0, kSettled = 1, kBusy = 2 };

  // Reads "i_user_id" under HKCU "Software\Pinstall", creating and storing a
  // new one when it is missing.
  explicit UserIdentity(Log* log);

  // Applies an install-data tail: its "installer" element's "userId", then
  // the registry's "s_user_id" or the family's "GUID" values.
  void readTail(const std::wstring& tailXml);
  // Applies the server's "idState" verdict ("free" or "busy") once.
  void handleAnswer(const std::wstring& answer);

  const std::wstring& iUserId() const { return iUserId_; }
  const std::wstring& sUserId() const { return sUserId_; }
  const std::wstring& guidList() const { return guidList_; }
  int state() const { return state_; }

  // The product first, then the other programs of the same family.
  static const wchar_t* const kFamily[6];

 private:
  Log* log_;
  std::wstring guidList_;
  std::wstring sUserId_;
  std::wstring iUserId_;
  int state_ = kUndecided;
};
