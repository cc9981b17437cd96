#include "app/PointerHandOff.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace handoff {
namespace {
std::mutex& lock() {
  static std::mutex m;
  return m;
}
// Few at a time: one offer notice and the pictures in flight.
std::vector<const void*>& given() {
  static std::vector<const void*> v;
  return v;
}
}  // namespace

void give(const void* p) {
  if (!p) return;
  std::lock_guard<std::mutex> hold(lock());
  given().push_back(p);
}

bool take(const void* p) {
  if (!p) return false;
  std::lock_guard<std::mutex> hold(lock());
  auto& v = given();
  auto it = std::find(v.begin(), v.end(), p);
  if (it == v.end()) return false;
  v.erase(it);
  return true;
}

}  // namespace handoff
