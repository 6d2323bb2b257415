// Threads on POSIX.
#include "platform/thread.h"

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <ctime>

namespace tovmir {

struct Thread {
  pthread_t id{};
  ThreadProc proc;
  void* arg;
  bool joined = false;  // a pthread may be joined only once; callers may ask again
};

namespace {

void* Run(void* t) {
  auto* self = static_cast<Thread*>(t);
  self->proc(self->arg);
  return nullptr;
}

std::atomic<std::uint32_t> g_next_id{1};

}  // namespace

bool StartThread(ThreadProc proc, void* arg, ThreadHandle* out, std::uint32_t* id) {
  auto* t = new Thread{{}, proc, arg, false};
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
  timespec deadline;
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += timeout_ms / 1000;
  deadline.tv_nsec += (timeout_ms % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  int rc;
  while ((rc = pthread_timedjoin_np(t->id, nullptr, &deadline)) == EINTR) {
  }
  t->joined = rc == 0;
  return t->joined;
}

void KillThread(ThreadHandle t) {
  if (t->joined) return;
  // The reader blocks in poll(), a cancellation point.
  pthread_cancel(t->id);
  pthread_join(t->id, nullptr);
  t->joined = true;
}

void CloseThread(ThreadHandle t) { delete t; }

}  // namespace tovmir
