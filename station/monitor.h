// monitor.h: tovmir-tool monitor, the station's program: the meter's logic on real serial
// ports, printed as text, written to a log and served to Prometheus (monitor.cpp says how
// its threads share the work). Called on the main thread, before any other thread starts.
#pragma once

namespace tovmir {

// The command's arguments after "tovmir-tool" (argv[0] "monitor"); the exit status.
int MonitorMain(int argc, char** argv);

}  // namespace tovmir
