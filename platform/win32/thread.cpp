// Threads on Windows.
#include "platform/thread.h"

#include <windows.h>

namespace tovmir {

struct Thread {
  HANDLE handle = nullptr;
  ThreadProc proc;
  void* arg;
};

namespace {

DWORD WINAPI Run(LPVOID t) {
  auto* self = static_cast<Thread*>(t);
  self->proc(self->arg);
  return 0;
}

}  // namespace

bool StartThread(ThreadProc proc, void* arg, ThreadHandle* out, std::uint32_t* id) {
  auto* t = new Thread{nullptr, proc, arg};
  DWORD tid = 0;
  t->handle = CreateThread(nullptr, 0, Run, t, 0, &tid);
  if (!t->handle) {
    delete t;
    *out = nullptr;
    return false;
  }
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

}  // namespace tovmir
