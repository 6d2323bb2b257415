#include "station/output.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/thread.h"
#include "platform/wake_pipe.h"

namespace tovmir {
namespace {
// Output queued beyond this (the output not keeping up) is dropped, not kept.
constexpr size_t kMaxQueuedBytes = 1 << 20;
}  // namespace

struct Output::State {
  explicit State(Sink s, OnError e) : sink(std::move(s)), on_error(e) {}
  Sink sink;
  OnError on_error;
  std::mutex mu;
  std::condition_variable cv;
  std::deque<std::string> queue;
  size_t bytes = 0;
  int frame_at = -1;  // where in the queue a frame waits, if one does
  bool busy = false, closed = false;
  int error = 0;
  long dropped = 0;
  long queued = 0;               // pieces put, not counting wakes
  std::atomic<long> written{0};  // of those, the pieces the sink has taken
  int failed[2] = {-1, -1};
};

Output::Output(Sink sink, OnError on_error)
    : s_(std::make_shared<State>(std::move(sink), on_error)) {
  if (pipe2(s_->failed, O_CLOEXEC) != 0) s_->failed[0] = s_->failed[1] = -1;
  // The writer keeps the state alive (its own reference) for as long as it runs.
  ThreadHandle writer;
  std::uint32_t id;
  auto* state = new std::shared_ptr<State>(s_);
  if (StartThread(&Output::Writer, state, &writer, &id))
    DetachThread(writer);
  else
    delete state;
}

Output::~Output() {
  std::lock_guard<std::mutex> lock(s_->mu);
  s_->closed = true;
  s_->cv.notify_all();
}

void Output::Put(std::string text) {
  std::lock_guard<std::mutex> lock(s_->mu);
  if (s_->bytes + text.size() > kMaxQueuedBytes) {
    ++s_->dropped;
    return;
  }
  s_->bytes += text.size();
  if (!text.empty()) ++s_->queued;
  s_->queue.push_back(std::move(text));
  s_->cv.notify_all();
}

void Output::PutFrame(std::string frame) {
  std::lock_guard<std::mutex> lock(s_->mu);
  if (s_->frame_at >= 0) {
    s_->queue[static_cast<size_t>(s_->frame_at)] = std::move(frame);
    return;
  }
  s_->frame_at = static_cast<int>(s_->queue.size());
  ++s_->queued;
  s_->queue.push_back(std::move(frame));
  s_->cv.notify_all();
}

bool Output::Drain(int ms) {
  std::unique_lock<std::mutex> lock(s_->mu);
  return s_->cv.wait_for(lock, std::chrono::milliseconds(ms),
                         [this] { return s_->error || (s_->queue.empty() && !s_->busy); });
}

int Output::failed_fd() const { return s_->failed[0]; }

int Output::error() const {
  std::lock_guard<std::mutex> lock(s_->mu);
  return s_->error;
}

long Output::dropped() const {
  std::lock_guard<std::mutex> lock(s_->mu);
  return s_->dropped;
}

long Output::unwritten() const {
  std::lock_guard<std::mutex> lock(s_->mu);
  return s_->queued - s_->written;
}

void Output::Writer(void* state) {
  const std::shared_ptr<State> s = *static_cast<std::shared_ptr<State>*>(state);
  delete static_cast<std::shared_ptr<State>*>(state);
  Write(s);
}

void Output::Write(std::shared_ptr<State> s) {
  std::unique_lock<std::mutex> lock(s->mu);
  for (;;) {
    s->cv.wait(lock, [&] { return !s->queue.empty() || s->closed; });
    if (s->queue.empty()) return;
    std::deque<std::string> batch;
    batch.swap(s->queue);
    s->bytes = 0;
    s->frame_at = -1;
    s->busy = true;
    lock.unlock();
    int error = 0;
    for (const std::string& text : batch) {
      error = s->sink(text);
      if (!text.empty()) ++s->written;
      if (error && s->on_error == OnError::kStop) break;
    }
    lock.lock();
    s->busy = false;
    s->cv.notify_all();
    if (error && s->on_error == OnError::kStop) {
      s->error = error;
      WakePipe(s->failed[1]);
      return;
    }
  }
}

int WriteToStdout(const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = write(STDOUT_FILENO, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    done += static_cast<size_t>(n);
  }
  return 0;
}

}  // namespace tovmir
