#pragma once
// Named timers of one install, reported as the "trace" statistics parameter.
//
// Threading: any thread may start or stop timers; one mutex guards the map.
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

class Stopwatch {
 public:
  using TickSource = std::function<uint32_t()>;
  explicit Stopwatch(TickSource ticks);

  // Starts a timer; an existing timer keeps its start.
  void start(const std::wstring& name);
  // Sets the timer's end to now (starting it first when unknown).
  void stop(const std::wstring& name);
  // Stops "main" and gives every timer's end - start in milliseconds.
  std::map<std::wstring, std::wstring> trace();

 private:
  struct Span { uint32_t start, end; };
  TickSource ticks_;
  std::mutex lock_;
  std::map<std::wstring, Span> timers_;
};
