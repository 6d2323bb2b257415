// Threads on Windows.
#include "platform/thread.h"

#include <windows.h>

namespace tovmir {

struct Thread {
  HANDLE handle = nullptr;
};

namespace {

// What the thread runs; its own, freed by it, so that the handle may go first.
struct Start {
  ThreadProc proc;
  void* arg;
};

DWORD WINAPI Run(LPVOID p) {
  const Start start = *static_cast<Start*>(p);
  delete static_cast<Start*>(p);
  start.proc(start.arg);
  return 0;
}

}  // namespace

bool StartThread(ThreadProc proc, void* arg, ThreadHandle* out, std::uint32_t* id) {
  auto* start = new Start{proc, arg};
  DWORD tid = 0;
  const HANDLE handle = CreateThread(nullptr, 0, Run, start, 0, &tid);
  if (!handle) {
    delete start;
    *out = nullptr;
    return false;
  }
  auto* t = new Thread{handle};
  *out = t;
  *id = tid;
  return true;
}

bool JoinThread(ThreadHandle t, int timeout_ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD spent = GetTickCount() - start;
    const DWORD left = spent >= static_cast<DWORD>(timeout_ms) ? 0 : timeout_ms - spent;
    const DWORD w = MsgWaitForMultipleObjects(1, &t->handle, FALSE, left, QS_SENDMESSAGE);
    if (w == WAIT_OBJECT_0) return true;
    if (w != WAIT_OBJECT_0 + 1) return false;
    // Delivers messages other threads sent to this thread's windows (a repaint the thread
    // we wait for asked for), and nothing else.
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

bool KillThread(ThreadHandle t) {
  TerminateThread(t->handle, 0);
  WaitForSingleObject(t->handle, INFINITE);
  return true;
}

void CloseThread(ThreadHandle t) {
  CloseHandle(t->handle);
  delete t;
}

void DetachThread(ThreadHandle t) { CloseThread(t); }

}  // namespace tovmir
