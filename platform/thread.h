// thread.h: the reader thread's lifecycle. Start, join and kill from the owner's thread.
#pragma once

#include <cstdint>

namespace tovmir {

struct Thread;  // one per OS, in platform/<os>/thread.cpp
using ThreadHandle = Thread*;
using ThreadProc = void (*)(void* arg);

// Starts proc(arg) at once beside the caller. False (and *out empty) when it cannot.
bool StartThread(ThreadProc proc, void* arg, ThreadHandle* out, std::uint32_t* id);

// Waits up to timeout_ms for the thread to end; true if it did. On Windows, messages sent to
// the caller's windows from other threads are delivered while it waits, so a thread that is
// waiting on one of them cannot deadlock the join.
bool JoinThread(ThreadHandle t, int timeout_ms);

// The last resort for a thread that did not end when asked: ends it wherever it is.
void KillThread(ThreadHandle t);

// Releases the handle; the thread must have ended (joined or killed).
void CloseThread(ThreadHandle t);

}  // namespace tovmir
