#include "platform/stop_signals.h"

#include <signal.h>
#include <sys/signalfd.h>

namespace tovmir {

int StopSignals(std::initializer_list<int> more) {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    // A signal ignored from the start (a background job of a script) would never reach
    // the descriptor: take the default back before blocking it.
    signal(sig, SIG_DFL);
    sigaddset(&set, sig);
  }
  for (int sig : more) sigaddset(&set, sig);
  sigprocmask(SIG_BLOCK, &set, nullptr);
  return signalfd(-1, &set, SFD_CLOEXEC);
}

}  // namespace tovmir
