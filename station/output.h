// output.h: text written by a thread of its own, so that an output that does not keep up (a
// terminal nobody reads, a full pipe, a log on a slow or full disk) holds up neither the
// serial ports' readers nor the signals. Put and PutFrame never wait: they queue, and what
// would queue beyond a limit is dropped and counted. Of frames (the terminal meter) only
// the newest matters, and it replaces one still queued.
//
// Where the text goes is a Sink, called on the writer thread only. A sink that reports a
// failure either stops the output (standard output: failed_fd() becomes readable, error()
// has the errno) or, if it keeps going, has said what it does about it itself (a log).
//
// Threads: Put, PutFrame, Wake and Drain from any thread; the writer's state is shared with
// it, so that a writer stuck in a write that never returns may outlive the object (the
// process then ends without it).
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace tovmir {

class Output final {
 public:
  // Writes one piece whole, or returns an errno. An empty piece writes nothing: it is a
  // chance to act on a request (Wake).
  using Sink = std::function<int(const std::string&)>;
  enum class OnError { kStop, kGoOn };

  Output(Sink sink, OnError on_error);
  ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  void Put(std::string text);
  void PutFrame(std::string frame);
  // Has the sink called soon, with an empty piece.
  void Wake() { Put({}); }
  // Waits up to ms for everything put so far to be written; false if it was not.
  bool Drain(int ms);

  // Readable once a kStop output has failed.
  int failed_fd() const;
  int error() const;
  // Pieces dropped for want of room, and pieces queued but not written (yet).
  long dropped() const;
  long unwritten() const;

 private:
  struct State;
  static void Writer(void* state);  // the writer thread's procedure
  static void Write(std::shared_ptr<State> s);
  std::shared_ptr<State> s_;
};

// A sink for standard output: every byte written, or the errno of the write that failed.
int WriteToStdout(const std::string& text);

}  // namespace tovmir
