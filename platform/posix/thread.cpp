// Threads on POSIX. They are never cancelled: see KillThread.
#include "platform/thread.h"

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tovmir {

struct Thread {
  pthread_t id{};
  ThreadProc proc;
  void* arg;
  std::mutex mu;
  std::condition_variable ended_cv;
  bool ended = false;     // under mu: the procedure has returned
  bool detached = false;  // under mu: the thread frees this at its end
  bool joined = false;    // a pthread may be joined only once; callers may ask again
};

namespace {

// Runs the procedure, then marks its end for a join that waits on the steady clock.
void* Run(void* p) {
  auto* self = static_cast<Thread*>(p);
  self->proc(self->arg);
  bool detached;
  {
    std::lock_guard<std::mutex> lock(self->mu);
    self->ended = true;
    detached = self->detached;
    self->ended_cv.notify_all();
  }
  if (detached) delete self;
  return nullptr;
}

std::atomic<std::uint32_t> g_next_id{1};

constexpr int kKillWaitMs = 1000;

}  // namespace

bool StartThread(ThreadProc proc, void* arg, ThreadHandle* out, std::uint32_t* id) {
  auto* t = new Thread;
  t->proc = proc;
  t->arg = arg;
  if (pthread_create(&t->id, nullptr, Run, t) != 0) {
    delete t;
    *out = nullptr;
    return false;
  }
  *out = t;
  *id = g_next_id.fetch_add(1);
  return true;
}

bool JoinThread(ThreadHandle t, int timeout_ms) {
  if (t->joined) return true;
  {
    std::unique_lock<std::mutex> lock(t->mu);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    if (!t->ended_cv.wait_until(lock, deadline, [t] { return t->ended; })) return false;
  }
  pthread_join(t->id, nullptr);  // past its end mark: returns at once
  t->joined = true;
  return true;
}

bool KillThread(ThreadHandle t) { return JoinThread(t, kKillWaitMs); }

void CloseThread(ThreadHandle t) { delete t; }

void DetachThread(ThreadHandle t) {
  {
    std::lock_guard<std::mutex> lock(t->mu);
    if (!t->ended) {
      t->detached = true;
      pthread_detach(t->id);
      return;
    }
  }
  JoinThread(t, 0);  // past its end mark: reaps it at once
  delete t;
}

}  // namespace tovmir
