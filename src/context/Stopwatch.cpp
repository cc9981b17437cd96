#include "context/Stopwatch.h"

Stopwatch::Stopwatch(TickSource ticks) : ticks_(std::move(ticks)) { start(L"main"); }

void Stopwatch::start(const std::wstring& name) {
  std::lock_guard<std::mutex> guard(lock_);
  if (timers_.count(name)) return;
  uint32_t now = ticks_();
  timers_[name] = {now, now};
}

void Stopwatch::stop(const std::wstring& name) {
  std::lock_guard<std::mutex> guard(lock_);
  uint32_t now = ticks_();
  auto it = timers_.find(name);
  if (it == timers_.end()) {
    timers_[name] = {now, now};
  } else {
    it->second.end = now;
  }
}

std::map<std::wstring, std::wstring> Stopwatch::trace() {
  stop(L"main");
  std::lock_guard<std::mutex> guard(lock_);
  std::map<std::wstring, std::wstring> out;
  // Tick counts wrap after 49 days; unsigned subtraction keeps spans right.
  for (const auto& t : timers_) out[t.first] = std::to_wstring(t.second.end - t.second.start);
  return out;
}
