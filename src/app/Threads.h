#pragma once
// Starting a thread that runs on its own. A thread the system refuses is a
// result and an ERROR line, never std::terminate. Portable; any thread.
#include <functional>
#include <string>

class Log;

namespace threads {

// How a thread is started; throws std::system_error when it cannot be.
using Starter = std::function<void(std::function<void()>)>;

// Runs body on a new detached thread. False (and "Can't start thread
// <name>" logged) when the thread could not be created. starter replaces
// std::thread (tests).
bool startDetached(Log* log, const std::wstring& name, std::function<void()> body, const Starter& starter = nullptr);

}  // namespace threads
