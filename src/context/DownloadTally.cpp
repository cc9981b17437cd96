#include "context/DownloadTally.h"

DownloadTally::DownloadTally(TickSource ticks) : ticks_(std::move(ticks)) {}

DownloadTally::Entry& DownloadTally::current(const std::wstring& name, uint32_t now) {
  auto it = entries_.find(name);
  if (it == entries_.end() || it->second.earlierRun) {
    Entry fresh;
    fresh.start = fresh.end = now;
    it = entries_.insert_or_assign(name, fresh).first;
  }
  return it->second;
}

void DownloadTally::started(const std::wstring& name) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = entries_.find(name);
  if (it != entries_.end() && !it->second.earlierRun) return;
  current(name, ticks_());
}

void DownloadTally::completed(const std::wstring& name) {
  std::lock_guard<std::mutex> guard(lock_);
  const uint32_t now = ticks_();
  Entry& e = current(name, now);
  e.end = now;
  e.completed = true;
}

void DownloadTally::failed(const std::wstring& name) {
  std::lock_guard<std::mutex> guard(lock_);
  if (entries_.count(name)) current(name, ticks_()).completed = false;
}

void DownloadTally::setBytes(const std::wstring& name, long long bytes, long long resumedBytes) {
  std::lock_guard<std::mutex> guard(lock_);
  Entry& e = current(name, ticks_());
  e.bytes = bytes;
  e.resumed = resumedBytes > 0 && resumedBytes <= bytes ? resumedBytes : 0;
}

void DownloadTally::setHost(const std::wstring& name, const std::wstring& host) {
  std::lock_guard<std::mutex> guard(lock_);
  current(name, ticks_()).host = host;
}

void DownloadTally::newRun() {
  std::lock_guard<std::mutex> guard(lock_);
  for (auto& entry : entries_) entry.second.earlierRun = true;
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
