#pragma once
// The named mutex that keeps a second installer from running.
#include <windows.h>

#include <string>

class Log;

class SingleInstance {
 public:
  SingleInstance(std::wstring name, Log* log) : name_(std::move(name)), log_(log) {}
  ~SingleInstance() = default;  // released explicitly on every exit road
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // False when another process holds the mutex already, or when the mutex
  // could not be had at all (an elevated holder refuses access).
  bool create();
  void release();

 private:
  std::wstring name_;
  Log* log_;
  HANDLE handle_ = nullptr;
  DWORD lastError_ = 0;
};
