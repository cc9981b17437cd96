#pragma once
// A text of the install data that one thread writes while others read it
// (the statistics thread fills what the start answer says while the wizard
// and the worker read it). Its own lock guards it; readers always get a
// copy, never a reference into a string another thread may reallocate.
// Portable; any thread.
#include <mutex>
#include <string>

class SharedText {
 public:
  SharedText() = default;
  SharedText(const SharedText&) = delete;
  SharedText& operator=(const SharedText&) = delete;

  SharedText& operator=(const std::wstring& value) {
    std::lock_guard<std::mutex> hold(lock_);
    value_ = value;
    return *this;
  }
  SharedText& operator+=(const std::wstring& more) {
    std::lock_guard<std::mutex> hold(lock_);
    value_ += more;
    return *this;
  }
  void clear() { *this = std::wstring(); }

  std::wstring get() const {
    std::lock_guard<std::mutex> hold(lock_);
    return value_;
  }
  operator std::wstring() const { return get(); }
  bool empty() const {
    std::lock_guard<std::mutex> hold(lock_);
    return value_.empty();
  }
  std::wstring::size_type find(const std::wstring& part) const {
    std::lock_guard<std::mutex> hold(lock_);
    return value_.find(part);
  }

  friend bool operator==(const SharedText& a, const std::wstring& b) { return a.get() == b; }
  friend bool operator==(const SharedText& a, const wchar_t* b) { return a.get() == b; }

 private:
  mutable std::mutex lock_;
  std::wstring value_;
};
