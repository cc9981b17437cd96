#include "context/DownloadTally.h"

DownloadTally::DownloadTally(TickSource ticks) : ticks_(std::move(ticks)) {}

void DownloadTally::started(const std::wstring& name) {
  std::lock_guard<std::mutex> guard(lock_);
  if (entries_.count(name)) return;
  Entry& e = entries_[name];
  e.start = e.end = ticks_();
}

void DownloadTally::completed(const std::wstring& name) {
  std::lock_guard<std::mutex> guard(lock_);
  uint32_t now = ticks_();
  auto it = entries_.find(name);
  if (it == entries_.end()) it = entries_.emplace(name, Entry{now, now, false, -1}).first;
  it->second.end = now;
  it->second.completed = true;
}

void DownloadTally::failed(const std::wstring& name) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = entries_.find(name);
  if (it != entries_.end()) it->second.completed = false;
}

void DownloadTally::setBytes(const std::wstring& name, long long bytes, long long resumedBytes) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = entries_.find(name);
  if (it == entries_.end()) {
    uint32_t now = ticks_();
    it = entries_.emplace(name, Entry{now, now, false, -1}).first;
  }
  it->second.bytes = bytes;
  it->second.resumed = resumedBytes > 0 && resumedBytes <= bytes ? resumedBytes : 0;
}

void DownloadTally::setHost(const std::wstring& name, const std::wstring& host) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = entries_.find(name);
  if (it == entries_.end()) {
    uint32_t now = ticks_();
    it = entries_.emplace(name, Entry{now, now, false, -1}).first;
  }
  it->second.host = host;
}

std::vector<DownloadTally::Record> DownloadTally::records() {
  std::lock_guard<std::mutex> guard(lock_);
  std::vector<Record> out;
  for (const auto& [name, e] : entries_) {
    // Unsigned subtraction keeps the span right across a tick-count wrap.
    uint32_t ms = e.completed ? e.end - e.start : 0;
    long long rate = -1;
    long long fetched = e.bytes - e.resumed;
    if (e.completed && e.bytes >= 0) rate = ms ? fetched * 1000 / ms : fetched * 1000;
    out.push_back({name, e.bytes, ms, rate, e.completed, e.resumed, e.host});
  }
  return out;
}
