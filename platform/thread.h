// thread.h: threads, the one way the program's code starts them: the serial link's
// reader, monitor's writers and endpoint. Start, join, kill and detach from the owner's
// thread.
#pragma once

#include <cstdint>

namespace tovmir {

struct Thread;  // one per OS, in platform/<os>/thread.cpp
using ThreadHandle = Thread*;
using ThreadProc = void (*)(void* arg);

// Starts proc(arg) at once beside the caller. False (and *out empty) when it cannot.
bool StartThread(ThreadProc proc, void* arg, ThreadHandle* out, std::uint32_t* id);

// Waits up to timeout_ms for the thread to end; true if it did. The time is measured on a
// clock that nobody sets, so a change of the system's time cannot cut the wait short or
// stretch it. On Windows, messages sent to the caller's windows from other threads are
// delivered while it waits, so a thread that is waiting on one of them cannot deadlock the
// join.
bool JoinThread(ThreadHandle t, int timeout_ms);

// The last resort for a thread that did not end when asked. On Windows it ends the thread
// wherever it is and returns true. POSIX has no safe way to end a thread from outside (a
// cancelled thread may die holding a lock that others then wait for forever), so there it
// only waits once more, up to a second, and returns false if the thread still runs: it is
// then left to run (a later JoinThread may reap it), and neither its handle nor anything
// it uses may be released.
bool KillThread(ThreadHandle t);

// Releases the handle; the thread must have ended (joined or killed).
void CloseThread(ThreadHandle t);

// Lets the thread run on by itself, and releases the handle (at once, or when it ends): for
// a thread that may be stuck in a call that never returns (a write to an output nobody
// reads), which the process may then end without.
void DetachThread(ThreadHandle t);

}  // namespace tovmir
