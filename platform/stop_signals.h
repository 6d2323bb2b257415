// stop_signals.h: the signals that ask a program to end (SIGINT, SIGTERM, SIGHUP, SIGQUIT),
// delivered through a descriptor rather than a handler, so that the program ends in its own
// time, through the same clean-up as a user's close (a serial port's settings put back).
// POSIX only: a Windows program ends through its window. Call it on the main thread before
// any other thread is started; the threads started later inherit the blocked signals.
#pragma once

#include <initializer_list>

namespace tovmir {

// A descriptor that becomes readable (a signalfd_siginfo to read) when one of the stop
// signals, or any of `more`, arrives; those signals are blocked for this thread and the
// threads it starts. -1 when it cannot be made.
int StopSignals(std::initializer_list<int> more = {});

}  // namespace tovmir
