#include "app/Threads.h"

#include <system_error>
#include <thread>

#include "app/Log.h"

namespace threads {

bool startDetached(Log* log, const std::wstring& name, std::function<void()> body, const Starter& starter) {
  try {
    if (starter) {
      starter(std::move(body));
    } else {
      std::thread(std::move(body)).detach();
    }
    return true;
  } catch (const std::system_error& e) {
    if (log) log->error(L"Can't start thread " + name + L" (error " + std::to_wstring(e.code().value()) + L")");
    return false;
  }
}

}  // namespace threads
