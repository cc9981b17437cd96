#pragma once
// Pointers that travel inside posted window messages. Any process on the
// desktop may post a message to our windows, and some of our numbers are
// also the system's own (1025 is DM_SETDEFID), so a receiver treats an
// lparam as a pointer only when this process handed exactly that pointer
// out and nobody has taken it yet. Portable; any thread.
namespace handoff {

// Before posting p: p may now be taken once.
void give(const void* p);

// True once for a pointer given and not yet taken; false for anything else
// (then the receiver must not touch it).
bool take(const void* p);

}  // namespace handoff
