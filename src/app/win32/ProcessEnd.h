#pragma once
// How the installer's process ends.

namespace processend {

// Ends the process with code. Other threads (the start event's, downloads)
// may still be running and using objects of static storage; ExitProcess
// stops them before anything is torn down, whereas returning from the entry
// point would run the static destructors under their feet.
[[noreturn]] void endProcess(int code);

}  // namespace processend
